#pragma once
// Shared between the X11 backend's files: the per-thread connection, the shared video
// connection, the registry of our windows and the canvas.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xvlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/display/x11/X11Display.h"

namespace platform::display {

// One thread's connection. Used by that thread only.
struct X11Connection {
  ::Display* dpy = nullptr;
  int screen = 0;
  ::Window root = 0;
  Visual* visual = nullptr;
  int depth = 0;
  GC gc = nullptr;
  std::map<long, XFontStruct*> fonts;  // height * 10000 + weight
  Atom paintAtom = 0, destroyAtom = 0, lockAtom = 0;
  // Event loop state (owner threads only).
  bool quit = false;
  std::set<::Window> invalid;
  Time lastPressTime = 0;
  ::Window lastPressWindow = 0;
  int lastPressX = 0, lastPressY = 0;
  // Video: a shared-memory image reused while the size allows, and a scratch pixmap for overlays.
  bool shmTried = false, shmOk = false;
  XShmSegmentInfo shm{};
  XImage* shmImage = nullptr;
  int shmWidth = 0, shmHeight = 0;
  Pixmap scratch = 0;
  int scratchWidth = 0, scratchHeight = 0;
  // XVideo (video connection only): one port grabbed for the connection's life, the fourcc it
  // takes for each layout (0 = none), and a shared-memory image reused while it fits.
  bool xvTried = false;
  XvPortID xvPort = 0;
  std::uint32_t xvI420 = 0, xvNv12 = 0;
  XvImage* xvImage = nullptr;
  XShmSegmentInfo xvShm{};

  ~X11Connection();
  unsigned long Pixel(ColorRef color) const;
  XFontStruct* LoadFont(const Font& font);
};

struct X11Window {
  std::thread::id owner;
  X11Connection* conn = nullptr;  // the owner's connection
  IWindowDelegate* delegate = nullptr;
  ::Window parent = 0;  // 0 for top-level windows
  Rect rect;            // as last asked (parent-relative), sizes may be 0
  Pixmap backing = 0;
  int backingWidth = 0, backingHeight = 0;
  bool topmost = false;
  int notifiedWidth = -1, notifiedHeight = -1;  // the size the delegate was last told
  bool watchesLock = false;
};

struct X11Display::Impl {
  std::string name;
  int generation = 0;
  std::mutex mutex;
  std::map<::Window, X11Window> windows;  // guarded by mutex
  // Started at the first watch and kept while the display lives; guarded by lockMutex (held
  // while logind is asked, so never under mutex).
  std::mutex lockMutex;
  system::SessionLockOptions lockOptions = system::DefaultSessionLockOptions();
  std::unique_ptr<system::SessionLockWatcher> lockWatcher;
  bool lockUnavailable = false;

  // Video: one connection for every thread that presents frames (the AV library's render
  // threads of all panes, and window threads refreshing a pane), so panes do not each take one of
  // the server's few client slots. videoMutex is held for the whole of each use.
  std::mutex videoMutex;
  std::unique_ptr<X11Connection> video;
  std::chrono::steady_clock::time_point videoRetryAt{};
  // Set for good at the first XVideo failure (or when there is none): YUV goes the BGRA way.
  std::atomic<bool> xvOff{false};

  X11Connection& Conn();  // the calling thread's connection (opened on first use)
  X11Connection* OpenConnection();
  std::unique_ptr<X11Connection> Connect();
  // videoMutex held: the video connection, or null while it cannot be opened (retried after a
  // pause, so a full server costs one refused connect per second, not one per frame).
  X11Connection* VideoConn();
};

// Draws with one connection's GC into a window or pixmap.
class X11Canvas : public ICanvas {
 public:
  X11Canvas(X11Connection& conn, Drawable target) : m_conn(conn), m_target(target) {}
  bool Drew() const { return m_drew; }

  void FillRect(const Rect& rect, ColorRef color) override;
  void DrawRectangle(const Rect& rect, const std::optional<Pen>& pen,
                     const std::optional<ColorRef>& brush) override;
  void DrawLine(Point from, Point to, const Pen& pen) override;
  void DrawEllipse(const Rect& box, const std::optional<Pen>& pen,
                   const std::optional<ColorRef>& brush) override;
  void DrawTextCentered(const Rect& box, const std::string& text, const Font& font,
                        ColorRef color) override;
  void DrawTextAt(Point origin, const std::string& text, const Font& font, ColorRef color) override;

 private:
  void UsePen(const Pen& pen);
  X11Connection& m_conn;
  Drawable m_target;
  bool m_drew = false;
};

// The last X error seen on the calling thread's connection (0 = none); reset by the caller.
int& LastX11Error();

// The fourcc to ask an XVideo port for, given the planar formats it lists; 0 when none fits.
std::uint32_t XvFourccFor(const std::vector<std::uint32_t>& planarFormats, YuvLayout layout);

}  // namespace platform::display
