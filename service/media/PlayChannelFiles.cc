// Recording, snapshots, downloads and talk: entry points and the hooks the receive path and the
// feed call for them. Placeholders until files and talk are built; each says what it stands for.
#include "service/media/PlayChannel.h"

int PlayChannel::CapturePicture(const std::wstring&) { return -1; }
int PlayChannel::StartRecord(const std::wstring&) { return -1; }

int PlayChannel::StopRecord() {
  ThreadLib::WriteLock lock(m_lockPlayer);
  if (PlayerOpen()) VX_StopRecord(m_hPlayer);
  m_bRecording = false;
  m_strRecordPath.clear();
  return 0;
}

int PlayChannel::StartDownload(const std::string&, const std::string&, const std::string&, const std::string&,
                               const std::string&, const std::wstring&, const std::wstring&, const std::string&) {
  return -1;
}

int PlayChannel::StopDownload(const std::string& message) { return StopStream(message); }

int PlayChannel::StartTalk(const std::string&, const std::string&, int, const std::string&) { return -1; }

int PlayChannel::StopTalk(const std::string& message) { return StopStream(message); }

bool PlayChannel::ReceiveDownload(const MediaHeader&, const std::uint8_t*, std::size_t) { return false; }
bool PlayChannel::DownloadWriterReady(const MediaHeader&) { return true; }
int PlayChannel::OpenDownloadWriterLocked() { return -1; }
void PlayChannel::ReopenDownloadWriterLocked() {}
void PlayChannel::CloseDownloadWriterLocked(VX_HANDLE handle) { VX_CloseStreamRecord(handle); }
void PlayChannel::FeedDownloadLocked(const std::uint8_t* data, std::size_t size, const StreamDescription& frame) {
  VX_InputRecordData(m_hPlayer, data, static_cast<std::int32_t>(size), &frame);
}
void PlayChannel::StartCapture() {}
void PlayChannel::RestartRecordingLocked() {}
