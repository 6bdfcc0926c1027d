// Downloads of stored recordings: a whole ".mp4" file written as it arrives, or frames handed to
// the library's file writer; progress notices, and the sealing trailer at the stop.
#include <algorithm>
#include <cctype>
#include <vector>

#include "common/TextConv.h"
#include "platform/system/FileWriter.h"
#include "service/media/DownloadProgress.h"
#include "service/media/DownloadTrailer.h"
#include "service/media/MediaFiles.h"
#include "service/media/MediaPacket.h"
#include "service/media/PacketQueue.h"
#include "service/media/PlayChannel.h"

// Start values are written by StartDownload before the client runs; the receive fields belong to
// the client thread; `files` changes under m_lockPlayer; `writeFailed` is the feed thread's.
struct DownloadState {
  std::string path;  // cleaned
  std::string totalSize, startTime, endTime;
  bool wholeFile = false;
  // Client thread.
  bool firstPacket = true;
  bool writerReady = false;
  int videoCount = 0;
  int lastProgress = -1;
  std::unique_ptr<platform::system::FileWriter> file;  // whole file
  std::string fileName;                                // what it was written under
  std::uint64_t written = 0;
  bool fileFailed = false;
  // Files the writer made (a codec change starts another).
  std::vector<std::string> files;
  std::atomic<bool> writeFailed{false};
};

namespace {
// Packets the frame writer waits for before it opens, unless audio tells the codec earlier.
constexpr int kWriterReadyVideo = 101;
constexpr const char* kWriteFailed = "-5";

// A whole file comes as the source's own bytes, so only a name that says what it is gets them:
// "x.mp4", not "x.mp4.desktop".
bool NamesWholeFile(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".mp4") == 0;
}
}  // namespace

int PlayChannel::StartDownload(const std::string& url, const std::string& requestJson, const std::string&,
                               const std::string& startTime, const std::string& endTime, const std::wstring& fileName,
                               const std::wstring& fileSize, const std::string& key) {
  auto state = std::make_shared<DownloadState>();
  state->path = CleanPathColons(WideToUtf8(fileName));
  state->totalSize = WideToUtf8(fileSize);
  state->startTime = startTime;
  state->endTime = endTime;
  state->wholeFile = NamesWholeFile(state->path);
  m_strKey = key;
  m_strRequest = requestJson;
  if (!IsAcceptableMediaPath(state->path) || MakeMediaFolder(state->path) != 0) return -1;
  m_download = std::move(state);
  m_mode = Mode::kDownload;
  m_bClosing = false;
  if (url.empty()) return -1;
  ConnectSource(url);
  return 0;
}

void PlayChannel::SealDownloadFiles() {
  if (!m_download) return;
  std::vector<std::string> files;
  {
    ThreadLib::WriteLock lock(m_lockPlayer);
    files.swap(m_download->files);
  }
  if (m_download->file) {
    m_download->file.reset();
    files.push_back(m_download->fileName);
  }
  for (const std::string& file : files) SealDownload(file);  // an unreadable file is left alone
}

int PlayChannel::StopDownload(const std::string& message) {
  if (!message.empty()) SendText(message);
  WriteReceivedFrames();
  StopStream(std::string());  // client, queue, feed thread and writer
  SealDownloadFiles();
  return 0;
}

// The page saw the progress of every frame received, so a stop right after 100 must not lose the
// frames still queued for the writer (a busy machine's writer lags by hundreds of frames).
void PlayChannel::WriteReceivedFrames() {
  if (!m_download || m_download->wholeFile) return;
  // A delivery waiting for room in the queue goes on as the feed thread makes room; once the
  // client has stopped nothing else opens the writer or starts a feed thread.
  EndClient();
  StopFeedThread();
  auto queue = Queue();
  if (!queue) return;
  while (auto packet = queue->Pop()) {
    {
      // Fewer frames than the writer waits for: it opens now rather than never.
      ThreadLib::WriteLock lock(m_lockPlayer);
      if (!PlayerOpen() && OpenDownloadWriterLocked() != 0) return;
    }
    std::lock_guard<std::mutex> feed(m_feedMutex);
    FeedPacket(*packet);
  }
}

bool PlayChannel::ReceiveDownload(const MediaHeader& header, const std::uint8_t* payload, std::size_t size) {
  DownloadState& d = *m_download;
  if (d.wholeFile) {
    if (d.fileFailed) return true;
    if (!d.file) {
      // An existing file is not replaced: the new one takes the counter.
      d.fileName = MakeMediaFileName(d.path, StreamDescription{});
      if (!d.fileName.empty()) {
        d.file = platform::system::FileWriter::Open(d.fileName, platform::system::FileWriter::Mode::kTruncate);
      }
    }
    if (!d.file || !d.file->Write(payload, size)) {
      // A full disk or a refused name: the page hears it once, the source is let go.
      d.fileFailed = true;
      StopClientFromSource();
      Notify("notice", kWriteFailed, 0, -1);
      return true;
    }
    d.written += size;
    if (d.firstPacket) {
      d.firstPacket = false;
      Notify("downloadStartTime", d.startTime, 0, 0);
    }
    const int progress = WholeFileProgress(d.written, d.totalSize);
    if (progress != d.lastProgress) {
      d.lastProgress = progress;
      Notify("downloadProgress", std::to_string(progress), 0, 0);
    }
    return true;
  }
  if (!header.IsVideo() || header.frameTime == 0) return false;
  {
    std::lock_guard<std::mutex> lock(m_descMutex);
    if (d.firstPacket) m_desc.videoCodec = static_cast<std::uint16_t>(header.codec);
    m_desc.frameRate = static_cast<std::uint16_t>(header.rate);
    m_desc.width = static_cast<std::uint16_t>(header.width);
    m_desc.height = static_cast<std::uint16_t>(header.height);
    m_desc.frameTime = header.frameTime;
  }
  if (d.firstPacket) {
    d.firstPacket = false;
    Notify("downloadStartTime", d.startTime, 0, 0);
  }
  // Each value once: a fast source delivers hundreds of frames per percent.
  const int progress = FrameTimeProgress(header.frameTime, d.startTime, d.endTime);
  if (progress != d.lastProgress) {
    d.lastProgress = progress;
    Notify("downloadProgress", std::to_string(progress), 0, 0);
  }
  return false;
}

bool PlayChannel::DownloadWriterReady(const MediaHeader& header) {
  DownloadState& d = *m_download;
  if (d.writerReady) return true;
  if (header.IsVideo()) {
    d.writerReady = ++d.videoCount >= kWriterReadyVideo;
  } else {
    // The first audio tells the audio codec: the file can take both tracks from the start.
    std::lock_guard<std::mutex> lock(m_descMutex);
    m_desc.audioCodec = static_cast<std::uint16_t>(header.codec);
    d.writerReady = true;
  }
  return d.writerReady;
}

int PlayChannel::OpenDownloadWriterLocked() {
  StreamDescription description;
  {
    std::lock_guard<std::mutex> lock(m_descMutex);
    description = m_desc;
  }
  const std::string name = MakeMediaFileName(m_download->path, description);
  if (name.empty()) return -1;
  VX_HANDLE handle = -1;
  if (VX_OpenStreamRecord(name.c_str(), &description, &handle) != VX_OK || handle <= 0) return -1;
  m_download->files.push_back(name);
  m_hPlayer = handle;
  return 0;
}

void PlayChannel::ReopenDownloadWriterLocked() {
  const VX_HANDLE old = m_hPlayer;
  m_hPlayer = -1;
  CloseDownloadWriterLocked(old);
  OpenDownloadWriterLocked();  // a failure leaves the writer closed; later frames are dropped
}

void PlayChannel::CloseDownloadWriterLocked(VX_HANDLE handle) { VX_CloseStreamRecord(handle); }

void PlayChannel::FeedDownloadLocked(const std::uint8_t* data, std::size_t size, const StreamDescription& frame) {
  if (m_download->writeFailed) return;
  if (VX_InputRecordData(m_hPlayer, data, static_cast<std::int32_t>(size), &frame) != VX_ERR_FILE) return;
  // The file takes no more (a full disk): what it holds stays; the page hears it once.
  m_download->writeFailed = true;
  Notify("notice", kWriteFailed, 0, -1);
}
