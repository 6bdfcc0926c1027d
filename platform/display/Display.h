#pragma once
// Everything the window layer asks of the window system. Commands go down through IDisplay;
// events come up through the IWindowDelegate given when a window is created.
//
// Threads: a window belongs to the thread that created it. Its delegate is called only on that
// thread, from inside RunLoop (or, for the headless backend, from Pump on that thread). Every
// other call may come from any thread (command thread, follow timer, renderers); the backends
// make them safe to run concurrently with the owner's loop.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/display/WindowId.h"

namespace platform::display {

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Rect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const Rect& o) const { return !(*this == o); }
};

inline Rect MakeRect(int x, int y, int width, int height) { return Rect{x, y, x + width, y + height}; }

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
};

struct Size {
  int width = 0;
  int height = 0;
};

// Red in the low byte, then green, then blue (the value pages and settings speak in).
using ColorRef = std::uint32_t;
constexpr ColorRef MakeColor(int r, int g, int b) {
  return static_cast<ColorRef>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int RedOf(ColorRef c) { return c & 0xFF; }
constexpr int GreenOf(ColorRef c) { return (c >> 8) & 0xFF; }
constexpr int BlueOf(ColorRef c) { return (c >> 16) & 0xFF; }

struct Pen {
  ColorRef color = 0;
  int width = 1;
};

struct Font {
  int height = 16;  // pixels
  int weight = 400;
  std::string face = "Arial";
};

// Drawing into a window. Rectangles are half open: (left, top) is inside, (right, bottom) is not;
// an outline is drawn inside the rectangle; a line does not include its end point.
class ICanvas {
 public:
  virtual void FillRect(const Rect& rect, ColorRef color) = 0;
  // Outline with `pen` when given, inside filled with `brush` when given.
  virtual void DrawRectangle(const Rect& rect, const std::optional<Pen>& pen,
                             const std::optional<ColorRef>& brush) = 0;
  virtual void DrawLine(Point from, Point to, const Pen& pen) = 0;
  virtual void DrawEllipse(const Rect& box, const std::optional<Pen>& pen,
                           const std::optional<ColorRef>& brush) = 0;
  // One line centred both ways in `box`, transparent background.
  virtual void DrawTextCentered(const Rect& box, const std::string& text, const Font& font,
                                ColorRef color) = 0;
  // Text whose top-left corner is `origin`, transparent background.
  virtual void DrawTextAt(Point origin, const std::string& text, const Font& font, ColorRef color) = 0;
  virtual ~ICanvas() = default;
};

enum class MouseAction { LeftDown, LeftUp, Move, Leave, LeftDoubleClick, RightUp };
enum class Key { Escape, Other };

// Called on the window's owner thread only.
class IWindowDelegate {
 public:
  // The canvas draws into the window's retained back buffer; what is drawn is shown when
  // OnPaint returns (so a full repaint never flickers and a partial one keeps the rest).
  virtual void OnPaint(WindowId /*window*/, ICanvas& /*canvas*/) {}
  virtual void OnSize(WindowId /*window*/, int /*width*/, int /*height*/) {}
  // Client coordinates. Leave arrives when the pointer leaves the window.
  virtual void OnMouse(WindowId /*window*/, MouseAction /*action*/, int /*x*/, int /*y*/) {}
  virtual void OnKey(WindowId /*window*/, Key /*key*/) {}
  // The window is being destroyed (children after their parent); it is gone afterwards.
  virtual void OnDestroy(WindowId /*window*/) {}
  // The desktop session was locked (true) or unlocked; only for registered windows.
  virtual void OnSessionLock(WindowId /*window*/, bool /*locked*/) {}
  virtual ~IWindowDelegate() = default;
};

struct TopLevelWindow {
  WindowId id = 0;
  std::string caption;
  std::string className;
  bool enabled = true;
  bool visible = false;
  Rect rect;  // screen coordinates
};

struct Monitor {
  std::uintptr_t id = 0;
  Rect rect;
  Rect workRect;
  std::string name;
  bool primary = false;
};

class IDisplay {
 public:
  virtual const char* Name() const = 0;

  // --- Other programs' windows (any thread) ---
  // Top of the stacking order first.
  virtual std::vector<TopLevelWindow> ListTopLevelWindows() = 0;
  // Children of `parent`, top of their stacking order first.
  virtual std::vector<WindowId> ListChildren(WindowId parent) = 0;
  // Screen coordinates. X11: the part the window shows, without the invisible borders of a
  // window that draws its own frame; where borders stay in, FrameCorrection makes up for them.
  virtual std::optional<Rect> GetWindowRect(WindowId window) = 0;
  virtual std::optional<std::string> GetCaption(WindowId window) = 0;
  virtual std::optional<std::string> GetClassName(WindowId window) = 0;
  virtual bool IsVisible(WindowId window) = 0;

  // --- Our windows: created on, and delivered to, the calling thread ---
  // A borderless window kept above `owner` (another program's top-level window), hidden.
  virtual WindowId CreateContainer(WindowId owner, const Rect& rect, IWindowDelegate* delegate) = 0;
  // A visible child window, `rect` relative to the parent.
  virtual WindowId CreateChild(WindowId parent, const Rect& rect, IWindowDelegate* delegate) = 0;
  // A borderless top-level window above everything else (the full-screen stand-in), hidden.
  virtual WindowId CreateTopmost(const Rect& rect, IWindowDelegate* delegate) = 0;
  // Delivers the calling thread's events until PostQuit is called on this thread.
  virtual void RunLoop() = 0;
  // Ends the calling thread's RunLoop once the current event is handled.
  virtual void PostQuit() = 0;

  // --- Commands on our windows (any thread) ---
  virtual bool Move(WindowId window, const Rect& rect) = 0;  // parent-relative for children
  virtual bool Show(WindowId window, bool show) = 0;
  // Top of the stacking order and active (keyboard input goes to it).
  virtual bool Activate(WindowId window) = 0;
  virtual bool SetFocus(WindowId window) = 0;
  // The visible shape of the window, a polygon filled even-odd in window coordinates; an empty
  // polygon makes the whole window visible again.
  virtual bool SetRegion(WindowId window, const std::vector<Point>& polygon) = 0;
  // Asks the owner thread to paint the window soon (paints coalesce).
  virtual bool Invalidate(WindowId window) = 0;
  // Draws into the window now from the calling thread, outside the paint cycle.
  virtual bool Draw(WindowId window, const std::function<void(ICanvas&)>& draw) = 0;
  // OnDestroy runs on the owner thread for the window and its children, then they are gone.
  // Safe to call for a window that is already gone.
  virtual void Destroy(WindowId window) = 0;
  // Session lock/unlock notifications for the window (false when the system offers none).
  virtual bool WatchSessionLock(WindowId window, bool watch) = 0;

  // --- Screens (any thread) ---
  virtual std::vector<Monitor> ListMonitors() = 0;
  virtual Size DesktopSize() = 0;
  virtual Size PrimaryScreenSize() = 0;
  // Pixels by which a browser's outer frame overlaps the page when the browser is maximised or
  // not; needed only where window borders are part of the window rectangle (0 elsewhere).
  virtual int FrameCorrection(bool maximised) { (void)maximised; return 0; }

  virtual ~IDisplay() = default;
};

// The monitor showing most of `window` (or nearest to it); empty when there are no monitors.
std::optional<Monitor> MonitorNearest(IDisplay& display, WindowId window);

// The process's display, set once at start-up (tests may swap it while no window exists).
void SetDisplay(IDisplay* display);
IDisplay* GetDisplay();

// X11 when a display opens, otherwise the headless backend; `note` tells which and why.
// The backend also registers itself as the video output.
std::unique_ptr<IDisplay> OpenDisplay(std::string* note);

}  // namespace platform::display
