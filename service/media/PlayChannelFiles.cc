// Local recordings and snapshots of a playing pane, and the client of downloads and talk.
#include "common/TextConv.h"
#include "platform/system/Shell.h"
#include "service/media/MediaFiles.h"
#include "service/media/PlayChannel.h"
#include "service/media/StreamClient.h"

namespace {
// What the page hears when a recording stops because its file takes no more: a "notice" of the
// pane with the library's file error.
constexpr const char* kRecordFailed = "-5";
}  // namespace

void PlayChannel::ConnectSource(const std::string& url) {
  // Held while the client starts, so its first callback finds it in place.
  std::lock_guard<std::mutex> lock(m_clientMutex);
  m_pClient = std::make_unique<StreamClient>(url, &PlayChannel::OnSourceMessageThunk, this, m_options.reconnectDelay);
}

int PlayChannel::CapturePicture(const std::wstring& path) {
  const std::string cleaned = CleanPathColons(WideToUtf8(path));
  if (!IsAcceptableMediaPath(cleaned) || MakeMediaFolder(cleaned) != 0) return -1;
  int result;
  {
    ThreadLib::ReadLock lock(m_lockPlayer);
    if (!PlayerOpen()) return -1;
    result = VX_SnapshotW(m_hPlayer, Utf8ToWide(cleaned).c_str(), 0);
  }
  if (result == VX_OK) platform::system::ShellOpen(MediaFolderOf(cleaned));
  return result;
}

int PlayChannel::StartRecord(const std::wstring& path) {
  const std::string cleaned = CleanPathColons(WideToUtf8(path));
  // Nothing outside the folder the page named, and nothing it did not name in full.
  if (!IsAcceptableMediaPath(cleaned)) return -1;
  ThreadLib::WriteLock lock(m_lockPlayer);
  // Remembered even when the recording cannot start: the stop opens it.
  m_strFolder = Utf8ToWide(MediaFolderOf(cleaned));
  if (!HasRoomToRecord(cleaned) || MakeMediaFolder(cleaned) != 0 || !PlayerOpen()) return -1;
  m_strRecordPath = Utf8ToWide(cleaned);
  RestartRecordingLocked();
  if (!m_bRecording) m_strRecordPath.clear();
  return m_bRecording ? 0 : -1;
}

void PlayChannel::RestartRecordingLocked() {
  StreamDescription description;
  {
    std::lock_guard<std::mutex> lock(m_descMutex);
    description = m_desc;
  }
  const std::string name = MakeMediaFileName(WideToUtf8(m_strRecordPath), description);
  const int result = name.empty() ? -1 : VX_StartRecord(m_hPlayer, name.c_str(), nullptr, description.frameRate);
  if (result == VX_OK) VX_SetRecordCallBack(m_hPlayer, &PlayChannel::OnRecordEnded, this);
  m_bRecording = result == VX_OK;
}

void PlayChannel::OnRecordEnded(std::int32_t, std::int32_t, void* user) {
  auto* self = static_cast<PlayChannel*>(user);
  // The decode thread must not take the player lock (a close holding it waits for this thread);
  // the path stays until the page stops the recording.
  if (!self->m_bRecording.exchange(false)) return;
  self->Notify("notice", kRecordFailed, self->m_nChannel, self->m_nPaneIndex);
}

int PlayChannel::StopRecord() {
  std::wstring folder;
  {
    ThreadLib::WriteLock lock(m_lockPlayer);
    if (PlayerOpen()) VX_StopRecord(m_hPlayer);
    m_bRecording = false;
    m_strRecordPath.clear();
    folder.swap(m_strFolder);
  }
  if (!folder.empty()) platform::system::ShellOpen(WideToUtf8(folder));
  return 0;
}
