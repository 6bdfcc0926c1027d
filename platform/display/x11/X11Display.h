#pragma once
// The X11 backend (Xlib; XShape for regions; XRandR for monitors; MIT-SHM for video).
//
// Threads: Xlib is used without XInitThreads. Every thread that talks to the X server opens its
// own connection on first use (kept for the thread's life), so the window threads, the follow
// timer and the command thread never share a Display*. Video (Present, GetClientSize) goes
// through one more connection shared by every presenting thread under its own mutex: the server
// has few client slots (256 by default) and 64 panes each with a render thread would use them up. Window
// ids are server-wide, so any connection may move, show or draw into any window. A window's
// events go to the connection that created it, that is to its owner thread's RunLoop; other
// threads reach that loop with client messages (paint, destroy). Our windows' bookkeeping is in
// one registry guarded by one mutex; delegates are called without it.
#include <memory>
#include <string>

#include "platform/display/Display.h"
#include "platform/display/VideoOutput.h"
#include "platform/system/SessionLock.h"

namespace platform::display {

class X11Display : public IDisplay, public IVideoOutput {
 public:
  // Null when the display cannot be opened (no $DISPLAY, no server).
  static std::unique_ptr<X11Display> Open(const std::string& displayName = "");
  ~X11Display() override;

  const char* Name() const override { return "x11"; }
  std::vector<TopLevelWindow> ListTopLevelWindows() override;
  std::vector<WindowId> ListChildren(WindowId parent) override;
  std::optional<Rect> GetWindowRect(WindowId window) override;
  std::optional<std::string> GetCaption(WindowId window) override;
  std::optional<std::string> GetClassName(WindowId window) override;
  bool IsVisible(WindowId window) override;
  WindowId CreateContainer(WindowId owner, const Rect& rect, IWindowDelegate* delegate) override;
  WindowId CreateChild(WindowId parent, const Rect& rect, IWindowDelegate* delegate) override;
  WindowId CreateTopmost(const Rect& rect, IWindowDelegate* delegate) override;
  void RunLoop() override;
  void PostQuit() override;
  bool Move(WindowId window, const Rect& rect) override;
  bool Show(WindowId window, bool show) override;
  bool Activate(WindowId window) override;
  bool SetFocus(WindowId window) override;
  bool SetRegion(WindowId window, const std::vector<Point>& polygon) override;
  bool Invalidate(WindowId window) override;
  bool Draw(WindowId window, const std::function<void(ICanvas&)>& draw) override;
  void Destroy(WindowId window) override;
  bool WatchSessionLock(WindowId window, bool watch) override;
  std::vector<Monitor> ListMonitors() override;
  Size DesktopSize() override;
  Size PrimaryScreenSize() override;

  bool GetClientSize(WindowId window, int* width, int* height) override;
  bool Present(WindowId window, const VideoFrameView& frame,
               const std::function<void(void* canvas)>& overlay) override;
  // Through XVideo when the server has an adaptor with a port that takes the layout as a planar
  // image: the adaptor converts and scales. Unsupported without one, or for good after any
  // XVideo error (logged once); full-range pictures too (the adaptor has no range control).
  PresentResult PresentYuv(WindowId window, const YuvFrameView& frame,
                           const std::function<void(void* canvas)>& overlay) override;

  // Where lock notifications come from; takes effect at the first WatchSessionLock.
  void SetSessionLockOptions(const system::SessionLockOptions& options);

  // Waits until the server has handled everything this thread sent.
  void Sync();
  // True when video goes through shared memory on this thread's connection.
  bool UsesSharedMemory();
  // The colour on screen at (x, y), for checking what reached the screen.
  std::optional<ColorRef> ScreenPixel(int x, int y);

  struct Impl;

 private:
  explicit X11Display(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

}  // namespace platform::display
