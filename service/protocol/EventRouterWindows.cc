// The IEvent operations raised by window groups. The group is found by its container window among
// the sessions; the play channel's share of each (drags, zoom, suspension, new pane windows, pane
// counts, player handles) joins here when channels carry players.
#include <mutex>

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

void EventRouter::OnWndMouse(WindowHandle, int, int, int, const DragRect*, bool) {}
void EventRouter::OnZoomRectChanged(WindowHandle, int, const ZoomRect*) {}

void EventRouter::OnWndDoubleClick(WindowHandle group, int pane) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  CSession* session = SessionOfGroup(m_sessions, group);
  if (session && GetPlayerHandle(group, pane) != 0) session->m_pWnd->FullScreen(true);
}

int EventRouter::GetPlayerHandle(WindowHandle, int) { return 0; }

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

void EventRouter::OnWndPainted(WindowHandle) {}

bool EventRouter::IsPaneFullScreen(WindowHandle paneWindow) {
  // Asked from renderers for every frame: the pane index reads the group's own count, taking
  // neither the sessions lock nor the one the follow timer takes.
  return WndObjManager::GetInstance().PaneFullScreenCount(paneWindow) != 0;
}

void EventRouter::OnWndHidden(WindowHandle, int) {}
void EventRouter::OnWndRecreated(WindowHandle) {}
void EventRouter::OnPaneCountChanged(WindowHandle, int) {}
