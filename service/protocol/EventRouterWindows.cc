// The IEvent operations raised by window groups. The group is found by its container window among
// the sessions, and what concerns a pane's picture is handed to the pane's play channel. Every
// operation that reaches a channel holds m_sessionsMutex for its whole walk: the command thread
// changes a channel table only with that lock held too, so no walk meets a channel being
// destroyed.
#include <mutex>

#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/EventRouter.h"
#include "service/windows/CPlayWnd.h"
#include "service/windows/WndObjManager.h"

namespace {

// The session whose group has container `group`. Caller holds m_sessionsMutex.
CSession* SessionOfGroup(SessionTable& table, IEvent::WindowHandle group) {
  if (group == 0) return nullptr;
  for (auto& entry : table.m_sessions) {
    CSession* session = entry.second.get();
    if (session && session->m_pWnd && session->m_pWnd->Container() == group) return session;
  }
  return nullptr;
}

// The channel of `pane` of the group's session, or null. Caller holds m_sessionsMutex.
PlayChannel* ChannelOfGroupPane(SessionTable& table, IEvent::WindowHandle group, int pane) {
  CSession* session = SessionOfGroup(table, group);
  return session ? ChannelOfPane(*session, pane) : nullptr;
}

// Runs `act` on every play channel of the group's session. Caller holds m_sessionsMutex.
template <class Act>
void ForEachChannelOfGroup(SessionTable& table, IEvent::WindowHandle group, Act act) {
  CSession* session = SessionOfGroup(table, group);
  if (!session) return;
  for (auto& entry : session->m_channels) act(*session->m_pWnd, *entry.second);
}

int PlayerHandleOf(SessionTable& table, IEvent::WindowHandle group, int pane) {
  PlayChannel* channel = ChannelOfGroupPane(table, group, pane);
  return channel ? channel->PlayerHandle() : 0;
}

}  // namespace

void EventRouter::OnWndSelected(WindowHandle group, int pane) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  CSession* session = SessionOfGroup(m_sessions, group);
  if (!session) return;
  CommandReply notice;
  notice.cmd = "onGetSelectWndIndex";
  notice.errorCode = 0;
  notice.wndIndex = pane;
  notice.channel = CameraChannelOfPane(*session, pane);
  SendNotice(*session, notice);
}

void EventRouter::OnWndMouse(WindowHandle group, int pane, int width, int height, const DragRect* drag,
                             bool finished) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  PlayChannel* channel = ChannelOfGroupPane(m_sessions, group, pane);
  if (!channel) return;
  // The drag's two corners; the channel puts them in order.
  platform::display::Rect rect;
  if (drag) rect = platform::display::Rect{drag->startX, drag->startY, drag->curX, drag->curY};
  channel->SetZoomRect(drag ? &rect : nullptr, width, height, finished);
}

void EventRouter::OnZoomRectChanged(WindowHandle group, int pane, const ZoomRect* rect) {
  if (!rect) return;
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  if (PlayChannel* channel = ChannelOfGroupPane(m_sessions, group, pane))
    channel->SetZoomArea(platform::display::Rect{rect->left, rect->top, rect->right, rect->bottom});
}

void EventRouter::OnWndDoubleClick(WindowHandle group, int pane) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  CSession* session = SessionOfGroup(m_sessions, group);
  if (session && PlayerHandleOf(m_sessions, group, pane) != 0) session->m_pWnd->FullScreen(true);
}

// Takes m_sessionsMutex (the window and dialog threads ask while the command thread may be
// changing the table); OnWndDoubleClick, which holds it already, reads through PlayerHandleOf.
int EventRouter::GetPlayerHandle(WindowHandle group, int pane) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  return PlayerHandleOf(m_sessions, group, pane);
}

void EventRouter::RequestPaneRepaint(WindowHandle paneWindow) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  for (auto& entry : m_sessions.m_sessions) {
    CSession* session = entry.second.get();
    if (session && session->m_pWnd && session->m_pWnd->OwnsPane(paneWindow)) {
      session->m_pWnd->RequestPaneRepaint(paneWindow);
      return;
    }
  }
}

void EventRouter::OnWndPainted(WindowHandle group) {
  // A paused playback shows its last picture again over the fresh paint.
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  ForEachChannelOfGroup(m_sessions, group, [](CPlayWnd&, PlayChannel& channel) { channel.RefreshIfPaused(); });
}

bool EventRouter::IsPaneFullScreen(WindowHandle paneWindow) {
  // Asked from renderers for every frame: the pane index reads the group's own count, taking
  // neither the sessions lock nor the one the follow timer takes.
  return WndObjManager::GetInstance().PaneFullScreenCount(paneWindow) != 0;
}

void EventRouter::OnWndHidden(WindowHandle group, int flag) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  ForEachChannelOfGroup(m_sessions, group, [flag](CPlayWnd&, PlayChannel& channel) { channel.SetSuspended(flag != 0); });
}

void EventRouter::OnWndRecreated(WindowHandle group) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  ForEachChannelOfGroup(m_sessions, group, [](CPlayWnd& wnd, PlayChannel& channel) {
    channel.SetWindow(wnd.Pane(channel.PaneIndex()));
  });
}

void EventRouter::OnPaneCountChanged(WindowHandle group, int count) {
  // Playback outside the new layout holds; inside it goes on. The panes change size with the
  // layout, and the channels place their marks by it.
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  ForEachChannelOfGroup(m_sessions, group, [count](CPlayWnd&, PlayChannel& channel) { channel.SetPaneCount(count); });
  if (CSession* session = SessionOfGroup(m_sessions, group)) GivePaneSizes(*session->m_pWnd, *session);
}
