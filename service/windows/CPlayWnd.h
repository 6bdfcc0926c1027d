#pragma once
// One page's window group: a borderless container laid over the browser page, holding 64 pane
// windows of which the current layout shows 1 to 64.
//
// Owner: the page's CSession (m_pWnd). Threads: the command thread runs the public operations;
// the group's window thread runs ContainerProc/PaneProc (and the IEvent calls they make), which
// the group's own window delegates call; the follow timer runs FollowOne holding the group's
// link mutex (see GroupLink); the "NO RESOURCE" thread paints on its own; a pane full screen runs
// on its own thread. Fields read across these threads are atomics; paneState has its own mutex;
// zoom rectangles are guarded by m_zoomMutex.
#include <array>
#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/display/Display.h"
#include "service/windows/Layout.h"
#include "service/windows/WindowTypes.h"

class IEvent;

// Waits the group makes; tests shorten them.
struct WndTimings {
  int attachRetryMs = 200;       // before each search for the browser window
  int walkStepMs = 1;            // between windows while walking top-level windows and children
  int paneCountSettleMs = 1000;  // after telling the channels the new pane count
  int arrangePaintMs = 10;       // before repainting after a new layout
  int reattachSettleMs = 500;    // between re-attaching and re-arranging
  int noResourcePeriodMs = 2000; // between "NO RESOURCE" paints
  int createReplyMs = 300;       // after createWnd, before its answer goes out
};
void SetWndTimings(const WndTimings& timings);
WndTimings GetWndTimings();

// How the AV library shows a player's video in a window; set by the service at start-up
// (tests leave them unset, which does nothing).
using PlayIntoWindowFn = int (*)(int player, platform::display::WindowId window, int reserved);
using RefreshPlayerFn = int (*)(int player);
void SetPlayerCalls(PlayIntoWindowFn play, RefreshPlayerFn refresh);

// What the procedures receive (the window system's messages, after the class procedures).
struct WindowEvent {
  enum class Kind { Paint, Size, Mouse, Key, Destroy, SessionLock };
  Kind kind = Kind::Paint;
  platform::display::WindowId window = 0;
  platform::display::ICanvas* canvas = nullptr;  // Paint
  int width = 0, height = 0;                      // Size
  platform::display::MouseAction action = platform::display::MouseAction::Move;  // Mouse
  int x = 0, y = 0;
  platform::display::Key key = platform::display::Key::Other;  // Key
  bool locked = false;                                          // SessionLock
};

enum class BrowserKind { Other = 0, Kind360 = 1, Firefox = 2, IE = 3 };

class CPlayWnd;

// What outlives a group for the threads that find it through WndObjManager: its full-screen
// count (renderers read it for every frame), and the group itself while it lives. `group` is
// cleared first thing in the group's destructor, under `mutex`, which the follow timer holds
// while it works on the group; so the timer never touches a group being destroyed.
struct GroupLink {
  std::atomic<int> fullScreenCount{0};
  std::mutex mutex;
  CPlayWnd* group = nullptr;  // guarded by mutex
};

class CPlayWnd {
 public:
  using WindowId = platform::display::WindowId;
  static constexpr int kPanes = layout::kPaneCount;

  // The group's windows live on `display`, which must outlive the group. Colour texts that are
  // empty or do not convert give the defaults (black background, grey 0x6C6C6C border, highlight
  // red 255 green 204 blue 0); pixel widths of 0 give 1 and 2.
  CPlayWnd(platform::display::IDisplay& display, const std::string& wndColor, const std::string& borderColor,
           const std::string& highlightColor, int borderPixel, int highlightPixel);
  CPlayWnd(const CPlayWnd&) = delete;
  CPlayWnd& operator=(const CPlayWnd&) = delete;
  // Stops the "NO RESOURCE" thread and a pane full screen, destroys the windows and joins the
  // window thread. Must not run with m_sessionsMutex held (the window thread may be waiting for it).
  virtual ~CPlayWnd();
  virtual void ContainerProc(const WindowEvent& event);
  virtual void PaneProc(const WindowEvent& event);

  // --- Command thread ---
  void SetEventSink(IEvent* sink) { m_eventSink = sink; }
  // 0, or -1 when the browser window (or its page window) is not found or no window could be made.
  int AttachToBrowser(int left, int top, int width, int height, int bodyHeight, const std::string& pageTitle);
  // 0, or -1 for an arrangeType no layout exists for (nothing changes then).
  int Arrange(int arrangeType, const std::string& webVersion);
  int MoveTo(int left, int top, int width, int height, int bodyHeight);
  int Reattach();
  int FullScreen(bool paneOnly);
  void LocateMonitor();
  bool CutRegion(int cutWidth, int cutHeight);
  bool RestoreRegion();
  void Refresh(int index);
  void Hide();  // hideWnd
  void Show();  // showWnd
  std::string GetBrowserName() const;
  // Half-size zoom rectangle of pane `index` at (zoomX, zoomY) percent; returns it.
  ZoomRect SetDigitalZoom(int index, float zoomX, float zoomY);
  // The zoom rectangle's top-left in percent of the pane.
  void GetDigitalZoom(int index, float* zoomX, float* zoomY);
  // 1 marks every shown pane as short of resources, 0 clears the marks (resource guard).
  void SetAllPaneStates(int value);

  layout::PaneSize GetPaneSize(int index);  // also stores paneWidth/paneHeight
  platform::display::Point GetPanePos(int index) const;
  void PlacePane(int index);

  // --- Any thread ---
  const std::shared_ptr<GroupLink>& Link() const { return m_link; }
  WindowId Container() const { return m_container.load(); }
  WindowId Pane(int index) const { return index >= 0 && index < kPanes ? m_pane[index].load() : 0; }
  int PaneIndexOf(WindowId pane) const;  // -1 when not ours
  bool OwnsPane(WindowId pane) const { return PaneIndexOf(pane) >= 0; }
  int PaneWidth(int index) const { return index >= 0 && index < kPanes ? m_paneWidth[index].load() : 0; }
  int PaneHeight(int index) const { return index >= 0 && index < kPanes ? m_paneHeight[index].load() : 0; }
  std::map<int, int> PaneStates();
  // A pane asked to be painted again (its channel stopped).
  void RequestPaneRepaint(WindowId pane);

  // The follow timer's work: keeps every attached group over its page. Timer thread.
  static void FollowBrowsers();
  // Tests drive FollowBrowsers themselves; call before the first group is built.
  static void SetFollowTimerEnabled(bool enabled);

  // The window system's events for the group's windows: the container's go to ContainerProc,
  // the panes' to PaneProc. Window thread.
  class WindowDelegate : public platform::display::IWindowDelegate {
   public:
    WindowDelegate(CPlayWnd& group, bool container) : m_group(group), m_forContainer(container) {}
    void OnPaint(WindowId window, platform::display::ICanvas& canvas) override;
    void OnSize(WindowId window, int width, int height) override;
    void OnMouse(WindowId window, platform::display::MouseAction action, int x, int y) override;
    void OnKey(WindowId window, platform::display::Key key) override;
    void OnDestroy(WindowId window) override;
    void OnSessionLock(WindowId window, bool locked) override;

   private:
    void Dispatch(WindowId window, WindowEvent& event);
    CPlayWnd& m_group;
    const bool m_forContainer;
  };

 private:
  const std::shared_ptr<GroupLink> m_link;  // before m_fullScreenCount, which lives in it

 public:
  // Page state. Written by the command thread; read anywhere.
  std::atomic<int> m_x{0}, m_y{0}, m_width{0}, m_height{0};
  std::atomic<int> m_paneCount{1};
  std::atomic<int> m_columns{1};
  std::atomic<int> m_arrangeType{0};
  std::atomic<int> m_ratioType{0};
  std::atomic<int> m_selected{0};
  std::atomic<bool> m_visible{false};
  std::atomic<bool> m_corridorMode{false};
  std::atomic<bool> m_hiddenByLock{false};
  std::atomic<int>& m_fullScreenCount;  // the link's, so readers need not find the group
  std::atomic<bool> m_mouseDown{false};
  std::atomic<int> m_offsetX{0}, m_offsetY{0}, m_bodyHeight{0};
  // From the browser window's top to its page's top when the page last told its bodyHeight.
  std::atomic<int> m_pageTop{0};
  std::atomic<int> m_savedWidth{0}, m_savedHeight{0};
  std::atomic<int> m_monitorLeft{0}, m_monitorTop{0};
  std::atomic<WindowId> m_browserWindow{0}, m_pageWindow{0};
  std::atomic<BrowserKind> m_browserKind{BrowserKind::Other};
  std::string m_pageTitle;   // command thread
  std::string m_webVersion;  // command thread
  float m_zoomX = 0, m_zoomY = 0;

  platform::display::ColorRef m_background;
  platform::display::Pen m_borderPen;
  platform::display::Pen m_highlightPen;

 private:
  friend class FullScreenDialog;
  void WindowThread(std::promise<bool>* created);
  void NoResourceThread();
  void StopNoResource();
  void StartNoResource();
  void StopWindows();
  bool FindBrowserWindow();
  std::optional<platform::display::Rect> RectOf(WindowId window);
  void FollowOne();
  void PaintContainer(platform::display::ICanvas& canvas);
  void PaintHighlightOnly(platform::display::ICanvas& canvas);
  platform::display::Rect SelectedFrame();
  void OnPaneMouse(int index, platform::display::MouseAction action, int x, int y);
  void ReportMouse(bool finished);
  void FullScreenThread();
  // Closes a pane full screen that runs or is still starting; none starts afterwards.
  void CloseFullScreen();
  void JoinFullScreen();

  platform::display::IDisplay& m_display;
  std::atomic<WindowId> m_container{0};
  std::array<std::atomic<WindowId>, kPanes> m_pane{};
  std::array<std::atomic<int>, kPanes> m_paneWidth{};
  std::array<std::atomic<int>, kPanes> m_paneHeight{};
  std::array<std::atomic<int>, kPanes> m_paneDirty{};
  // One flag per pane, so that another pane's paint cannot take a pane's repaint request.
  std::array<std::atomic<bool>, kPanes> m_paneRepaint{};
  platform::display::Rect m_lastHighlight;  // window thread
  DragRect m_drag;                          // window thread, or the full-screen thread
  std::mutex m_zoomMutex;
  std::array<ZoomRect, kPanes> m_zoom{};
  std::mutex m_paneStateMutex;
  std::map<int, int> m_paneState;
  IEvent* m_eventSink = nullptr;
  WindowDelegate m_containerDelegate{*this, true};
  WindowDelegate m_paneDelegate{*this, false};

  std::thread m_windowThread;
  std::thread m_noResourceThread;
  std::mutex m_noResourceMutex;
  std::condition_variable m_noResourceWake;
  bool m_stopNoResource = true;  // guarded by m_noResourceMutex
  // The pane full screen: its thread, its dialog once made, and whether the group is going away
  // (then no dialog may start or stay). Written under m_fullScreenMutex: the thread may be
  // started on the window thread (double click) while the command thread destroys the group.
  // The window thread reads the dialog alone.
  std::mutex m_fullScreenMutex;
  std::thread m_fullScreenThread;
  std::atomic<WindowId> m_fullScreenDialog{0};
  bool m_fullScreenClosing = false;
};
