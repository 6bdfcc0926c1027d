// The IEvent operations raised by window groups. Until window groups exist no session owns a
// group or pane window, so each finds nothing and does nothing.
#include "service/protocol/EventRouter.h"

void EventRouter::OnWndSelected(WindowHandle, int) {}
void EventRouter::OnWndMouse(WindowHandle, int, int, int, const DragRect*, bool) {}
void EventRouter::OnZoomRectChanged(WindowHandle, int, const ZoomRect*) {}
void EventRouter::OnWndDoubleClick(WindowHandle, int) {}
int EventRouter::GetPlayerHandle(WindowHandle, int) { return 0; }
void EventRouter::RequestPaneRepaint(WindowHandle) {}
void EventRouter::OnWndPainted(WindowHandle) {}
bool EventRouter::IsPaneFullScreen(WindowHandle) { return false; }
void EventRouter::OnWndHidden(WindowHandle, int) {}
void EventRouter::OnWndRecreated(WindowHandle) {}
void EventRouter::OnPaneCountChanged(WindowHandle, int) {}
