// The play channel's operations: start and stop, playback controls, sound, and what the server's
// IEvent walks change. The receive path is in PlayChannelReceive.cc, the feed thread in
// PlayChannelFeed.cc, zoom and overlay in PlayChannelOverlay.cc.
#include "service/media/PlayChannel.h"

#include "common/TextConv.h"
#include "platform/system/Shell.h"
#include "service/media/PacketQueue.h"
#include "service/media/SourceText.h"
#include "service/media/StreamClient.h"

PlayChannel::PlayChannel() : PlayChannel(Options{}) {}

PlayChannel::PlayChannel(Options options) : m_options(std::move(options)) {}

PlayChannel::~PlayChannel() {
  // Normally stopped already; a running channel is stopped here so no thread outlives it.
  StopStream(std::string());
}

int PlayChannel::StartStream(const std::string& url, const std::string& requestJson, WindowHandle window,
                             const StreamDescription& description, bool playback, int paneIndex,
                             const std::string& key, int paneCount, bool dxva) {
  // A channel started again leaves nothing of its previous stream running.
  StopStream(std::string());
  m_mode = playback ? Mode::kPlayback : Mode::kLive;
  m_bPlayback = playback;
  m_strRequest = requestJson;
  m_hWnd = window;
  {
    std::lock_guard<std::mutex> lock(m_descMutex);
    m_desc = description;
  }
  m_nPaneIndex = paneIndex;
  m_strKey = key;
  m_nPaneCount = paneCount;
  m_bDxva = dxva;
  const StartFields fields = ReadStartFields(requestJson);
  if (fields.hasData) m_nChannel = fields.channel.value_or(0);
  if (playback) {
    if (fields.endTime) m_strEndTime = *fields.endTime;
    if (fields.speed) m_nSpeed = *fields.speed;
  }
  m_bEndOfFile = false;
  m_bEndNoticeSent = false;
  m_bPaused = false;
  m_bClosing = false;
  if (url.empty()) return -1;
  // Held while the client starts, so its first callback finds it in place.
  std::lock_guard<std::mutex> lock(m_clientMutex);
  m_pClient = std::make_unique<StreamClient>(url, &PlayChannel::OnSourceMessageThunk, this, m_options.reconnectDelay);
  return 0;
}

void PlayChannel::EndClient() {
  std::unique_ptr<StreamClient> client;
  {
    std::lock_guard<std::mutex> lock(m_clientMutex);
    client = std::move(m_pClient);
  }
  client.reset();  // stops and joins the client thread, outside the mutex its delivery may take
}

int PlayChannel::StopStream(const std::string& message) {
  m_bClosing = true;
  m_pendingCv.notify_all();
  if (!message.empty()) SendText(message);
  // The client thread may sit inside a delivery, waiting for room in a full queue, for room among
  // the packets held while paused, or for its pane to come back into the layout. Release those
  // first: the client's stop waits for that delivery to end.
  TakeQueue();
  EndClient();
  // Nothing creates queues or players any more: drop what the last delivery may have made.
  TakeQueue();
  StopFeedThread();
  DropHeld();
  std::wstring folder;
  {
    ThreadLib::WriteLock lock(m_lockPlayer);
    if (PlayerOpen()) ClosePlayerLocked();
    folder.swap(m_strFolder);
  }
  if (!folder.empty()) platform::system::ShellOpen(WideToUtf8(folder));
  return 0;
}

int PlayChannel::SetPlaySpeed(int speed, const std::string& message) {
  m_nSpeed = speed;
  if (!message.empty()) SendText(message);
  ThreadLib::ReadLock lock(m_lockPlayer);
  if (PlayerOpen()) VX_SetSpeed(m_hPlayer, speed);
  return 0;
}

int PlayChannel::SendSpeedMessage(const std::string& message) {
  if (!message.empty()) SendText(message);
  return 0;
}

int PlayChannel::SeekPlayback(const std::string& message) {
  if (!message.empty()) SendText(message);
  if (auto queue = Queue()) queue->Clear();
  DropHeld();
  if (const auto target = SeekTimeOf(message)) {
    ThreadLib::WriteLock lock(m_lockSeek);
    m_bSeekPending = true;
    m_nSeekReports = 0;
    m_nSeekTime = *target;
  }
  m_bPaused = false;
  m_pendingCv.notify_all();
  ThreadLib::ReadLock lock(m_lockPlayer);
  if (PlayerOpen()) VX_Pause(m_hPlayer, 0);
  return 0;
}

int PlayChannel::ReportPlayTime() {
  ThreadLib::WriteLock lock(m_lockSeek);
  const int playTime = m_nPlayTime;
  if (!m_bSeekPending) return playTime;
  if (playTime >= m_nSeekTime - 3 && playTime <= m_nSeekTime + 3) {
    m_bSeekPending = false;
    return playTime;
  }
  if (m_nSeekReports < 3) {
    ++m_nSeekReports;
    return m_nSeekTime;
  }
  m_bSeekPending = false;
  return playTime;
}

int PlayChannel::SetPaused(bool paused, const std::string& message) {
  m_bPaused = paused;
  m_pendingCv.notify_all();
  if (!message.empty()) SendText(message);
  return 0;
}

bool PlayChannel::SendText(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_clientMutex);
  return m_pClient && m_pClient->SendText(text);
}

int PlayChannel::OpenSound() {
  ThreadLib::ReadLock lock(m_lockPlayer);
  if (!PlayerOpen()) return -1;
  const int result = VX_OpenSound(m_hPlayer);
  if (result == VX_OK) m_bSound = true;
  return result;
}

int PlayChannel::CloseSound() {
  ThreadLib::ReadLock lock(m_lockPlayer);
  if (!PlayerOpen()) return -1;
  const int result = VX_CloseSound(m_hPlayer);
  if (result == VX_OK) m_bSound = false;
  return result;
}

void PlayChannel::SetEventSink(IEvent& sink) { m_pEvent = &sink; }
void PlayChannel::SetPaneWidth(int width) { m_nWidth = width; }
void PlayChannel::SetPaneHeight(int height) { m_nHeight = height; }

void PlayChannel::SetPaneCount(int count) {
  m_nPaneCount = count;
  if (!m_bPlayback || m_bPaused) return;
  ThreadLib::ReadLock lock(m_lockPlayer);
  if (PlayerOpen()) VX_Pause(m_hPlayer, m_nPaneIndex >= count ? 1 : 0);
}

void PlayChannel::SetSuspended(bool suspended) {
  m_bSuspended = suspended;
  m_pendingCv.notify_all();
}

void PlayChannel::SetWindow(WindowHandle window) {
  m_hWnd = window;
  ThreadLib::ReadLock lock(m_lockPlayer);
  if (PlayerOpen()) VX_Play(m_hPlayer, window, 0);
}

void PlayChannel::RefreshIfPaused() {
  if (!m_bPlayback || !m_bPaused) return;
  ThreadLib::ReadLock lock(m_lockPlayer);
  if (PlayerOpen()) VX_Refresh(m_hPlayer);
}

int PlayChannel::PlayerHandle() const {
  const int handle = m_hPlayer.load();
  return handle > 0 ? handle : 0;
}

std::size_t PlayChannel::QueuedPackets() {
  auto queue = Queue();
  return queue ? queue->Count() : 0;
}

std::size_t PlayChannel::HeldPackets() {
  std::lock_guard<std::mutex> lock(m_pendingMutex);
  return m_pending.size();
}

void PlayChannel::Notify(const std::string& event, const std::string& value, int camera, int pane) {
  // A channel being stopped reports nothing more: its pane may already belong to another stream.
  if (m_bClosing) return;
  if (IEvent* sink = m_pEvent.load()) sink->OnChannelEvent(m_strKey, event, value, camera, pane);
}

std::shared_ptr<PacketQueue> PlayChannel::Queue() {
  ThreadLib::ReadLock lock(m_lockQueue);
  return m_pQueue;
}

std::shared_ptr<PacketQueue> PlayChannel::TakeQueue() {
  std::shared_ptr<PacketQueue> queue;
  {
    ThreadLib::WriteLock lock(m_lockQueue);
    queue.swap(m_pQueue);
  }
  if (queue) {
    queue->Clear();
    queue->Stop();  // a push waiting for room returns, dropping its packet
  }
  return queue;
}

void PlayChannel::DropHeld() {
  std::deque<std::unique_ptr<MediaPacket>> held;
  {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    held.swap(m_pending);
  }
  m_pendingCv.notify_all();
}
