// The channel's side of its source connection (client thread, inside the client's deliveries):
// the source's answer codes, and the receive path of media frames up to the packet queue.
#include <chrono>
#include <exception>
#include <thread>

#include "common/DebugLog.h"
#include "service/media/PacketQueue.h"
#include "service/media/PlayChannel.h"
#include "service/media/SourceText.h"
#include "service/media/StreamClient.h"

namespace {
constexpr std::chrono::milliseconds kHoldPoll{10};
}  // namespace

void PlayChannel::OnSourceMessageThunk(const std::vector<std::uint8_t>& message, void* user) {
  auto* channel = static_cast<PlayChannel*>(user);
  // One pane's failure stays in that pane: nothing thrown here may end the client thread.
  try {
    channel->OnSourceMessage(message);
  } catch (const std::exception&) {
    DebugLog("try catch error!");
  }
}

void PlayChannel::OnSourceMessage(const std::vector<std::uint8_t>& message) {
  if (message.empty()) {
    std::lock_guard<std::mutex> lock(m_clientMutex);
    if (m_pClient) m_pClient->SendText(m_strRequest);
    return;
  }
  if (m_bClosing) return;
  const std::uint8_t* data = message.data();
  if (IsJsonText(data, message.size())) {
    if (const auto code = SourceCode(data, message.size())) OnSourceCode(*code);
    return;  // a text that does not parse is ignored
  }
  const auto header = ParseMediaHeader(data, message.size());
  if (!header) return;
  ReceiveMedia(*header, data + kMediaHeaderSize, message.size() - kMediaHeaderSize);
}

void PlayChannel::StopClientFromSource() {
  std::lock_guard<std::mutex> lock(m_clientMutex);
  if (m_pClient) m_pClient->Stop();  // from its own thread: only flags the stop
}

void PlayChannel::OnSourceCode(int code) {
  if (code == 0) {
    if (m_mode == Mode::kTalk) StartCapture();
    return;
  }
  const std::string value = std::to_string(code);
  if (m_mode == Mode::kTalk && m_pEvent.load()) {
    Notify("startTalk", value, m_nChannel, 0);
    return;
  }
  switch (code) {
    case 302:
    case 4002:  // end of data
      StopClientFromSource();
      if (m_mode == Mode::kPlayback) {
        m_bEndOfFile = true;
        if (auto queue = Queue()) queue->Wake();  // the feed thread starts its drained checks
      }
      if (m_mode == Mode::kDownload) Notify("downloadProgress", "100", 0, 0);
      break;
    case 203:
    case 4001:  // refused, but the connection stays
      Notify("startPlay", value, 0, 0);
      break;
    case 4004:
      if (IEvent* sink = m_pEvent.load(); sink && !m_bClosing) sink->RequestPaneRepaint(m_hWnd);
      break;
    default:
      StopClientFromSource();
      Notify("notice", value, m_nChannel, m_nPaneIndex);
      break;
  }
}

bool PlayChannel::HoldWhileOutsideLayout() {
  // Reading stops, so the source is held back until a layout shows the pane again.
  while (!m_bClosing && m_nPaneCount <= m_nPaneIndex) std::this_thread::sleep_for(kHoldPoll);
  return !m_bClosing;
}

void PlayChannel::ReceiveMedia(const MediaHeader& header, const std::uint8_t* payload, std::size_t size) {
  if (m_mode == Mode::kPlayback && !HoldWhileOutsideLayout()) return;
  if (m_bSuspended) {
    ReleaseMedia();
    return;
  }
  const bool video = header.IsVideo();
  m_bDot = header.dot == 1;
  {
    std::lock_guard<std::mutex> lock(m_descMutex);
    m_desc.frameType = header.frameType;
    if (m_mode == Mode::kPlayback && video) {
      m_desc.frameRate = static_cast<std::uint16_t>(header.rate);
      if (header.frameTime != 0) m_desc.frameTime = header.frameTime;
    }
  }
  if (m_mode == Mode::kDownload && ReceiveDownload(header, payload, size)) return;
  if (PlayerOpen() && DescriptionChanged(header)) ReopenPlayer();
  if (m_mode == Mode::kTalk) {
    std::lock_guard<std::mutex> lock(m_descMutex);
    m_desc.kind = 1;
    m_desc.videoCodec = VX_CODEC_H264;
    m_desc.audioCodec = static_cast<std::uint16_t>(header.codec);
  }

  std::shared_ptr<PacketQueue> queue;
  {
    ThreadLib::WriteLock lock(m_lockQueue);
    if (!m_pQueue && !m_bClosing) {
      m_pQueue = std::make_shared<PacketQueue>();
      if (m_mode == Mode::kPlayback || m_mode == Mode::kDownload) m_pQueue->SetDropMode(false);
    }
    queue = m_pQueue;
  }
  if (!queue) return;
  if (!OpenPlayerIfClosed(header)) return;

  std::unique_ptr<MediaPacket> packet;
  {
    std::lock_guard<std::mutex> lock(m_descMutex);
    m_desc.kind = video ? 0 : 1;
    packet = std::make_unique<MediaPacket>(MakeMediaPacket(m_desc, payload, size));
  }
  // After an overflow the queue skips video up to the next picture that stands alone.
  packet->secondFrame = video && header.frameType == 0 ? 1 : 0;
  Deliver(std::move(packet), *queue);
}

bool PlayChannel::DescriptionChanged(const MediaHeader& header) {
  std::lock_guard<std::mutex> lock(m_descMutex);
  if (header.IsVideo()) {
    const auto codec = static_cast<std::uint16_t>(header.codec);
    const auto width = static_cast<std::uint16_t>(header.width);
    const auto height = static_cast<std::uint16_t>(header.height);
    if (codec == m_desc.videoCodec && width == m_desc.width && height == m_desc.height) return false;
    m_desc.videoCodec = codec;
    m_desc.width = width;
    m_desc.height = height;
    return true;
  }
  const int old = m_desc.audioCodec;
  if (header.codec == old) return false;
  m_desc.audioCodec = static_cast<std::uint16_t>(header.codec);
  if (m_mode == Mode::kDownload) return true;
  // A recording keeps its audio track unless G.711 gives way to another codec.
  const bool g711 = [](int c) { return c == VX_CODEC_G711A || c == VX_CODEC_G711U; }(old);
  const bool nowG711 = header.codec == VX_CODEC_G711A || header.codec == VX_CODEC_G711U;
  return m_bRecording && g711 && !nowG711;
}

bool PlayChannel::OpenPlayerIfClosed(const MediaHeader& header) {
  if (PlayerOpen()) return true;
  if (m_mode == Mode::kDownload && !DownloadWriterReady(header)) return true;  // only queued so far
  int result = 0;
  {
    ThreadLib::WriteLock lock(m_lockPlayer);
    if (m_bClosing) return false;
    if (PlayerOpen()) return true;
    StreamDescription description;
    {
      std::lock_guard<std::mutex> descLock(m_descMutex);
      // The frame in hand says what the stream is; opening with the start command's guesses
      // would only re-open at the next frame and lose this one's picture.
      if (header.IsVideo() && m_mode != Mode::kTalk) {
        m_desc.videoCodec = static_cast<std::uint16_t>(header.codec);
        m_desc.width = static_cast<std::uint16_t>(header.width);
        m_desc.height = static_cast<std::uint16_t>(header.height);
      } else if (!header.IsVideo()) {
        m_desc.audioCodec = static_cast<std::uint16_t>(header.codec);
      }
      m_desc.streamMode = m_mode == Mode::kPlayback ? VX_MODE_PLAYBACK : VX_MODE_LIVE;
      description = m_desc;
    }
    description.audioCodec = static_cast<std::uint16_t>(AudioCodecForLibrary(description.audioCodec));
    switch (m_mode) {
      case Mode::kLive:
      case Mode::kPlayback:
        result = OpenPlayerLocked(description);
        break;
      case Mode::kTalk:
        result = OpenTalkPlayerLocked(description);
        break;
      case Mode::kDownload:
        result = OpenDownloadWriterLocked();
        break;
    }
  }
  if (result != 0) {
    // The window shows nothing and the page hears nothing; the source is let go.
    ReleaseMedia();
    StopClientFromSource();
    return false;
  }
  StartFeedThread();
  return true;
}

int PlayChannel::OpenPlayerLocked(const StreamDescription& description) {
  const WindowHandle window = m_hWnd;
  VX_HANDLE handle = -1;
  if (VX_OpenStream(&description, &handle, window, m_bDxva ? 1 : 0) != VX_OK || handle <= 0) return -1;
  if (VX_Play(handle, window, 0) != VX_OK) {
    VX_CloseStream(handle);
    return -1;
  }
  VX_SetDrawCallBack(handle, &PlayChannel::OnDraw, this);
  VX_SetDecodeCallBack(handle, &PlayChannel::OnDecoded, this);
  if (m_mode == Mode::kPlayback) VX_SetSpeed(handle, m_nSpeed);
  // Sound the page switched on survives a re-open or a lock of the desktop.
  if (m_bSound) VX_OpenSound(handle);
  m_hPlayer = handle;
  return 0;
}

int PlayChannel::OpenTalkPlayerLocked(const StreamDescription& description) {
  VX_HANDLE handle = -1;
  if (VX_OpenStream(&description, &handle, 0, 0) != VX_OK || handle <= 0) return -1;
  VX_OpenSound(handle);
  m_hPlayer = handle;
  return 0;
}

void PlayChannel::ClosePlayerLocked() {
  const VX_HANDLE handle = m_hPlayer;
  m_hPlayer = -1;
  if (handle <= 0) return;
  if (m_mode == Mode::kDownload) {
    CloseDownloadWriterLocked(handle);
    return;
  }
  if (m_bRecording) {
    VX_StopRecord(handle);
    m_bRecording = false;
    m_strRecordPath.clear();
  }
  VX_CloseSound(handle);
  VX_CloseStream(handle);
}

void PlayChannel::ReopenPlayer() {
  std::shared_ptr<PacketQueue> queue = Queue();
  ThreadLib::WriteLock lock(m_lockPlayer);
  if (!PlayerOpen() || m_bClosing) return;
  if (m_mode == Mode::kDownload) {
    ReopenDownloadWriterLocked();
    return;
  }
  StreamDescription description;
  {
    std::lock_guard<std::mutex> descLock(m_descMutex);
    description = m_desc;
  }
  description.audioCodec = static_cast<std::uint16_t>(AudioCodecForLibrary(description.audioCodec));
  const VX_HANDLE old = m_hPlayer;
  m_hPlayer = -1;
  const bool recording = m_bRecording;
  if (recording) VX_StopRecord(old);
  if (m_bSound) VX_CloseSound(old);
  VX_CloseStream(old);
  if (m_mode == Mode::kTalk) {
    OpenTalkPlayerLocked(description);
    return;
  }
  // A failure leaves the player closed; the next frame tries to open it again.
  if (OpenPlayerLocked(description) != 0) return;
  if (recording) {
    if (queue) queue->Clear();
    RestartRecordingLocked();
  }
}

void PlayChannel::Deliver(std::unique_ptr<MediaPacket> packet, PacketQueue& queue) {
  if (m_mode == Mode::kLive && FeedPastQueue(*packet, queue)) return;
  if (m_mode != Mode::kPlayback) {
    queue.Push(std::move(packet));
    return;
  }
  std::deque<std::unique_ptr<MediaPacket>> held;
  {
    std::unique_lock<std::mutex> lock(m_pendingMutex);
    if (m_bPaused) {
      if (!WaitForHeldRoom(lock)) return;
    }
    if (m_bPaused) {
      m_pending.push_back(std::move(packet));
      lock.unlock();
      ThreadLib::ReadLock player(m_lockPlayer);
      if (PlayerOpen()) VX_Pause(m_hPlayer, 1);
      return;
    }
    held.swap(m_pending);
  }
  if (!held.empty()) {
    {
      ThreadLib::ReadLock player(m_lockPlayer);
      if (PlayerOpen()) VX_Pause(m_hPlayer, 0);
    }
    for (auto& p : held) queue.Push(std::move(p));
  }
  queue.Push(std::move(packet));
}

bool PlayChannel::WaitForHeldRoom(std::unique_lock<std::mutex>& lock) {
  // A source that keeps sending while paused is held back here instead of filling memory.
  m_pendingCv.wait(lock, [this] {
    return m_bClosing || m_bSuspended || !m_bPaused || m_pending.size() < kMaxHeld;
  });
  return !m_bClosing && !m_bSuspended;
}

void PlayChannel::ReleaseMedia() {
  TakeQueue();
  StopFeedThread();
  {
    ThreadLib::WriteLock lock(m_lockPlayer);
    ClosePlayerLocked();
  }
  DropHeld();
}

void PlayChannel::StartFeedThread() {
  StopFeedThread();
  {
    std::lock_guard<std::mutex> feed(m_feedMutex);
    m_meter.emplace(NowMs());  // a new player measures afresh
  }
  m_bFeedStop = false;
  m_feedThread = std::thread(&PlayChannel::FeedLoop, this);
}

void PlayChannel::StopFeedThread() {
  m_bFeedStop = true;
  if (auto queue = Queue()) queue->Wake();
  if (m_feedThread.joinable()) m_feedThread.join();
}
