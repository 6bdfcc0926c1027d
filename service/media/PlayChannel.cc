#include "service/media/PlayChannel.h"

PlayChannel::PlayChannel() : PlayChannel(Options{}) {}
PlayChannel::PlayChannel(Options options) : m_options(std::move(options)) {}
PlayChannel::~PlayChannel() = default;

int PlayChannel::StartStream(const std::string&, const std::string&, WindowHandle, const StreamDescription&, bool,
                             int, const std::string&, int, bool) {
  return -1;
}
int PlayChannel::StopStream(const std::string&) { return 0; }
int PlayChannel::SetPlaySpeed(int, const std::string&) { return 0; }
int PlayChannel::SendSpeedMessage(const std::string&) { return 0; }
int PlayChannel::SeekPlayback(const std::string&) { return 0; }
int PlayChannel::ReportPlayTime() { return 0; }
int PlayChannel::SetPaused(bool, const std::string&) { return 0; }
bool PlayChannel::SendText(const std::string&) { return false; }
int PlayChannel::OpenSound() { return -1; }
int PlayChannel::CloseSound() { return -1; }
void PlayChannel::EnableZoom(bool) {}
void PlayChannel::SetZoomRect(const Rect*, int, int, bool) {}
void PlayChannel::SetZoomArea(const Rect&) {}
PlayChannel::Rect PlayChannel::ZoomArea() const { return Rect{}; }
void PlayChannel::SetDrawRect(bool, int, const std::string&) {}
void PlayChannel::SetPtzRateText(const std::string&) {}
void PlayChannel::SetEventSink(IEvent&) {}
void PlayChannel::SetPaneWidth(int) {}
void PlayChannel::SetPaneHeight(int) {}
void PlayChannel::SetPaneCount(int) {}
void PlayChannel::SetSuspended(bool) {}
void PlayChannel::SetWindow(WindowHandle) {}
void PlayChannel::RefreshIfPaused() {}
int PlayChannel::CapturePicture(const std::wstring&) { return -1; }
int PlayChannel::StartRecord(const std::wstring&) { return -1; }
int PlayChannel::StopRecord() { return -1; }
int PlayChannel::StartDownload(const std::string&, const std::string&, const std::string&, const std::string&,
                               const std::string&, const std::wstring&, const std::wstring&, const std::string&) {
  return -1;
}
int PlayChannel::StopDownload(const std::string&) { return 0; }
int PlayChannel::StartTalk(const std::string&, const std::string&, int, const std::string&) { return -1; }
int PlayChannel::StopTalk(const std::string&) { return 0; }
int PlayChannel::PlayerHandle() const { return 0; }
