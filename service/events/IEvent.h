#pragma once
// How windows and channels reach the server. Implemented by the server; called from window
// threads, full-screen dialog threads, channel threads and timers. The lock each operation takes
// is noted; none may be called with m_sessionsMutex held except GetPlayerHandle.
#include <string>

#include "platform/display/WindowId.h"
#include "service/events/PaneRects.h"

class IEvent {
 public:
  using WindowHandle = platform::display::WindowId;

  // A pane became the selected one: notice "onGetSelectWndIndex". Takes m_sessionsMutex.
  virtual void OnWndSelected(WindowHandle group, int pane) = 0;
  // Mouse drag on a pane or in full screen; forwarded to the pane's channel. Takes m_sessionsMutex.
  virtual void OnWndMouse(WindowHandle group, int pane, int width, int height, const DragRect* drag,
                          bool finished) = 0;
  // Takes m_sessionsMutex.
  virtual void OnZoomRectChanged(WindowHandle group, int pane, const ZoomRect* rect) = 0;
  // Full screen of the group when the pane plays. Takes m_sessionsMutex.
  virtual void OnWndDoubleClick(WindowHandle group, int pane) = 0;
  // Player handle of the pane's channel, 0 when none. Takes no lock.
  virtual int GetPlayerHandle(WindowHandle group, int pane) = 0;
  // Notices raised by play, download and talk channels. Takes m_sessionsMutex.
  virtual void OnChannelEvent(const std::string& key, const std::string& event, const std::string& value,
                              int cameraChannel, int pane) = 0;
  // Takes m_sessionsMutex.
  virtual void RequestPaneRepaint(WindowHandle paneWindow) = 0;
  virtual void OnWndPainted(WindowHandle group) = 0;
  virtual bool IsPaneFullScreen(WindowHandle paneWindow) = 0;
  virtual void OnWndHidden(WindowHandle group, int flag) = 0;
  virtual void OnWndRecreated(WindowHandle group) = 0;
  virtual void OnPaneCountChanged(WindowHandle group, int count) = 0;
  virtual void OnTextMessage(const std::string& text) = 0;

  virtual ~IEvent() = default;
};
