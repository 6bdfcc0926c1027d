#pragma once
// The window system in memory: windows keep geometry, visibility, stacking, region, the draw calls
// painted into them and the last video frame. Tests create other programs' windows, inject input
// and lock events, and read the state back. Delegates are called on the window's owner thread,
// exactly as with a real window system.
//
// Threads: one mutex guards all window state; delegates and draw callbacks run without it, so a
// delegate may call back into the display. Events for a window are queued to its owner thread and
// run by RunLoop (or Pump) there; the Inject* and Flush calls wait until the owner has run them.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/display/Display.h"
#include "platform/display/VideoOutput.h"

namespace platform::display {

struct DrawCall {
  enum class Kind { Fill, Rectangle, Line, Ellipse, TextCentered, TextAt };
  Kind kind = Kind::Fill;
  Rect rect;
  Point from, to;
  std::optional<Pen> pen;
  std::optional<ColorRef> brush;  // fill colour; text colour for text
  std::string text;
  Font font;
};

struct HeadlessFrame {
  int width = 0;  // a YUV picture: the client size it was presented at (scaled to it)
  int height = 0;
  std::vector<std::uint8_t> bgra;  // width * 4 bytes per row
  std::vector<DrawCall> overlay;  // what the overlay drew over it
  int presentCount = 0;
  bool yuv = false;  // presented as YUV; `bgra` was converted from it on read-back
};

// A copy of one window's state.
struct HeadlessWindowState {
  WindowId id = 0;
  WindowId parent = 0;  // child windows
  WindowId owner = 0;   // containers
  bool foreign = false;
  bool topmost = false;
  std::string caption, className;
  bool enabled = true;
  bool visible = false;
  Rect rect;  // parent-relative for children, screen for top-level windows
  std::vector<Point> region;
  std::vector<DrawCall> drawCalls;  // since the last ClearDrawCalls, at most the latest kMaxDrawCalls
  int paintCount = 0;
  int moveCount = 0;
  bool watchesLock = false;
};

class HeadlessDisplay : public IDisplay, public IVideoOutput {
 public:
  // Draw calls a window keeps; older ones are dropped.
  static constexpr std::size_t kMaxDrawCalls = 1024;

  HeadlessDisplay();
  ~HeadlessDisplay() override;

  const char* Name() const override { return "headless"; }
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
  int FrameCorrection(bool maximised) override { return maximised ? m_correctionMaximised : m_correctionNormal; }

  // IVideoOutput
  bool GetClientSize(WindowId window, int* width, int* height) override;
  bool Present(WindowId window, const VideoFrameView& frame,
               const std::function<void(void* canvas)>& overlay) override;
  // Keeps a copy of the planes; converts and scales them only when LastFrame reads them.
  PresentResult PresentYuv(WindowId window, const YuvFrameView& frame,
                           const std::function<void(void* canvas)>& overlay) override;

  // --- For tests ---
  // Another program's top-level window, put at the top of the stacking order.
  WindowId CreateForeignWindow(const std::string& caption, const std::string& className,
                               const Rect& rect, bool visible = true, bool enabled = true);
  // A child of another program's window (rect relative to the parent), on top of its siblings.
  WindowId CreateForeignChild(WindowId parent, const Rect& rect, const std::string& className = "",
                              const std::string& caption = "", bool visible = true);
  bool SetForeignRect(WindowId window, const Rect& rect);
  bool SetForeignCaption(WindowId window, const std::string& caption);
  void SetMonitors(std::vector<Monitor> monitors);  // the first primary one gives the primary size
  void SetDesktopSize(Size size);
  // Lets tests stand in for a window system whose window rectangles include browser borders.
  void SetFrameCorrection(int maximised, int normal) {
    m_correctionMaximised = maximised;
    m_correctionNormal = normal;
  }

  // Runs the input on the window's owner thread and returns once it has been handled.
  void InjectMouse(WindowId window, MouseAction action, int x, int y);
  void InjectKey(WindowId window, Key key);
  // Lock or unlock the session: every watching window is told, each on its owner thread.
  void InjectSessionLock(bool locked);
  // Returns once the owner thread of `window` has handled everything queued for it before.
  void Flush(WindowId window);
  // Runs what is queued for the calling thread (for windows created outside any RunLoop).
  void Pump();

  std::optional<HeadlessWindowState> State(WindowId window);
  void ClearDrawCalls(WindowId window);
  std::optional<HeadlessFrame> LastFrame(WindowId window);
  WindowId FocusedWindow();
  // Counts of calls, for checking that nothing is done needlessly.
  int MoveCount(WindowId window);

 private:
  struct Window;
  struct Loop;
  struct Picture;
  class RecordingCanvas;

  WindowId Create(WindowId parent, WindowId owner, bool topmost, const Rect& rect,
                  IWindowDelegate* delegate);
  std::shared_ptr<Loop> LoopOf(std::thread::id thread);  // m_mutex held
  // Queues `task` to the owner of `window`; false when the window is gone.
  bool Post(WindowId window, std::function<void()> task);
  // Queues and waits (runs at once when the caller is the owner).
  void Send(WindowId window, std::function<void()> task);
  void RunTasks(Loop& loop, bool untilQuit);
  void PaintNow(WindowId window);
  // Caller holds m_mutex.
  static void KeepDrawCalls(HeadlessWindowState& state, std::vector<DrawCall> calls);
  void Collect(WindowId window, std::vector<WindowId>* out);  // m_mutex held; children first
  // Fills a picture (pixels written outside m_mutex into a reused buffer) and stores it as the
  // window's last one; false when the window is gone.
  bool Store(WindowId window, const std::function<void(Picture&)>& fill,
             const std::function<void(void* canvas)>& overlay);

  std::mutex m_mutex;
  std::map<WindowId, std::unique_ptr<Window>> m_windows;
  std::vector<WindowId> m_topOrder;  // top-level windows, top first
  std::map<std::thread::id, std::shared_ptr<Loop>> m_loops;
  std::vector<Monitor> m_monitors;
  Size m_desktop{1920, 1080};
  WindowId m_nextId = 0x1000;
  WindowId m_focus = 0;
  std::atomic<int> m_correctionMaximised{0}, m_correctionNormal{0};
};

}  // namespace platform::display
