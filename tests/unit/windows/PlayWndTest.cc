// The window group on the headless display: attachment, layouts, procedures, follow timer.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "common/DebugLog.h"
#include "platform/display/headless/HeadlessDisplay.h"
#include "service/events/IEvent.h"
#include "NoWaits.h"
#include "service/windows/CPlayWnd.h"
#include "service/windows/WndObjManager.h"

using namespace platform::display;

namespace {

const char kTitle[] = "{0A1B2C3D-0000-4000-8000-00112233AABB}";

// Records what the group tells the server.
class RecordingEvents : public IEvent {
 public:
  struct Call {
    std::string name;
    int pane = 0, width = 0, height = 0;
    bool finished = false;
    bool hasDrag = false;
    DragRect drag;
    ZoomRect zoom;
    WindowHandle group = 0;
  };

  void OnWndSelected(WindowHandle g, int pane) override { Add({"selected", pane, 0, 0, false, false, {}, {}, g}); }
  void OnWndMouse(WindowHandle g, int pane, int w, int h, const DragRect* drag, bool finished) override {
    Add({"mouse", pane, w, h, finished, drag != nullptr, drag ? *drag : DragRect{}, {}, g});
  }
  void OnZoomRectChanged(WindowHandle g, int pane, const ZoomRect* rect) override {
    Add({"zoom", pane, 0, 0, false, false, {}, *rect, g});
  }
  void OnWndDoubleClick(WindowHandle g, int pane) override { Add({"double", pane, 0, 0, false, false, {}, {}, g}); }
  int GetPlayerHandle(WindowHandle, int) override { return player; }
  void OnChannelEvent(const std::string&, const std::string&, const std::string&, int, int) override {}
  void RequestPaneRepaint(WindowHandle) override {}
  void OnWndPainted(WindowHandle g) override { Add({"painted", 0, 0, 0, false, false, {}, {}, g}); }
  bool IsPaneFullScreen(WindowHandle) override { return false; }
  void OnWndHidden(WindowHandle g, int flag) override { Add({"hidden", flag, 0, 0, false, false, {}, {}, g}); }
  void OnWndRecreated(WindowHandle g) override { Add({"recreated", 0, 0, 0, false, false, {}, {}, g}); }
  void OnPaneCountChanged(WindowHandle g, int count) override { Add({"count", count, 0, 0, false, false, {}, {}, g}); }
  void OnTextMessage(const std::string&) override {}

  std::vector<Call> Take(bool withPainted = false) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Call> out;
    for (auto& c : m_calls)
      if (withPainted || c.name != "painted") out.push_back(c);
    m_calls.clear();
    return out;
  }
  // Waits until a call named `name` arrives (five seconds at most).
  bool WaitFor(const std::string& name) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_added.wait_for(lock, std::chrono::seconds(5), [&] {
      for (auto& c : m_calls)
        if (c.name == name) return true;
      return false;
    });
  }

  std::atomic<int> player{0};

 private:
  void Add(Call c) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(c);
    m_added.notify_all();
  }
  std::mutex m_mutex;
  std::condition_variable m_added;
  std::vector<Call> m_calls;
};

// A headless display whose ListChildren can be stopped once armed, so a test can act while the
// follow timer is in the middle of its walk.
class PausingDisplay : public HeadlessDisplay {
 public:
  std::vector<WindowId> ListChildren(WindowId parent) override {
    {
      std::unique_lock<std::mutex> lock(m_pauseMutex);
      if (m_armed) {
        m_listed.push_back(parent);
        if (!m_stoppedIn) {
          m_stoppedIn = parent;
          m_pauseChanged.notify_all();
          m_pauseChanged.wait(lock, [this] { return m_released; });
        }
      }
    }
    return HeadlessDisplay::ListChildren(parent);
  }
  void Arm() {
    std::lock_guard<std::mutex> lock(m_pauseMutex);
    m_armed = true;
  }
  // The window whose children the walk stopped at (0 when it did not stop within five seconds).
  WindowId WaitStopped() {
    std::unique_lock<std::mutex> lock(m_pauseMutex);
    m_pauseChanged.wait_for(lock, std::chrono::seconds(5), [this] { return m_stoppedIn != 0; });
    return m_stoppedIn;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_pauseMutex);
    m_released = true;
    m_pauseChanged.notify_all();
  }
  std::vector<WindowId> Listed() {
    std::lock_guard<std::mutex> lock(m_pauseMutex);
    return m_listed;
  }

  // Once held, the next top-most window (a full-screen dialog) is made only after some window is
  // destroyed, or after two seconds when none is.
  WindowId CreateTopmost(const Rect& rect, IWindowDelegate* delegate) override {
    {
      std::unique_lock<std::mutex> lock(m_pauseMutex);
      if (m_holdTopmost) {
        m_holdTopmost = false;
        m_pauseChanged.wait_for(lock, std::chrono::seconds(2), [this] { return m_destroyRequested; });
      }
    }
    return HeadlessDisplay::CreateTopmost(rect, delegate);
  }
  void Destroy(WindowId window) override {
    {
      std::lock_guard<std::mutex> lock(m_pauseMutex);
      m_destroyRequested = true;
      m_pauseChanged.notify_all();
    }
    HeadlessDisplay::Destroy(window);
  }
  void HoldTopmost() {
    std::lock_guard<std::mutex> lock(m_pauseMutex);
    m_holdTopmost = true;
    m_destroyRequested = false;
  }

 private:
  std::mutex m_pauseMutex;
  std::condition_variable m_pauseChanged;
  bool m_armed = false, m_released = false;
  bool m_holdTopmost = false, m_destroyRequested = false;
  WindowId m_stoppedIn = 0;
  std::vector<WindowId> m_listed;  // parents listed since armed
};

class PlayWndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseNoWaits(5);
    SetDebugLogSink([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(m_logMutex);
      m_log.push_back(line);
    });
    m_browser = m_display.CreateForeignWindow(std::string("Camera page ") + kTitle + " - Chromium", "Chromium",
                                              MakeRect(100, 50, 1000, 800));
    m_page = m_display.CreateForeignChild(m_browser, MakeRect(0, 80, 1000, 720), "Chrome_RenderWidget");
  }
  void TearDown() override {
    m_group.reset();
    SetDebugLogSink(nullptr);
  }

  // A group attached over the page at offsets (10, 20), 640 x 480, arranged with `arrangeType`.
  void Build(int arrangeType = 4, int bodyHeight = 0) {
    m_group = std::make_unique<CPlayWnd>(m_display, "", "", "", 0, 0);
    m_group->SetEventSink(&m_events);
    ASSERT_EQ(m_group->AttachToBrowser(10, 20, 640, 480, bodyHeight, kTitle), 0);
    if (arrangeType) {
      ASSERT_EQ(m_group->Arrange(arrangeType, ""), 0);
    }
    Settle();
    m_display.ClearDrawCalls(Container());
    m_events.Take();
  }
  WindowId Container() { return m_group->Container(); }
  // Everything queued for the window thread has been handled.
  void Settle() { m_display.Flush(Container()); }
  std::vector<DrawCall> Drawn() { return m_display.State(Container())->drawCalls; }
  bool Logged(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_logMutex);
    return std::find(m_log.begin(), m_log.end(), line) != m_log.end();
  }

  PausingDisplay m_display;
  RecordingEvents m_events;
  std::unique_ptr<CPlayWnd> m_group;
  WindowId m_browser = 0, m_page = 0;
  std::mutex m_logMutex;
  std::vector<std::string> m_log;
};

TEST_F(PlayWndTest, AttachFailsAfterThreeSearchesWhenNoCaptionHasTheTitle) {
  CPlayWnd group(m_display, "", "", "", 0, 0);
  EXPECT_EQ(group.AttachToBrowser(0, 0, 640, 480, 0, "{NOT-THERE}"), -1);
  EXPECT_TRUE(Logged("Not found web handle!"));
  EXPECT_EQ(group.Container(), 0u);
  // A hidden or disabled browser window is not taken either.
  m_display.CreateForeignWindow("hidden {X}", "c", MakeRect(0, 0, 10, 10), false);
  m_display.CreateForeignWindow("disabled {X}", "c", MakeRect(0, 0, 10, 10), true, false);
  EXPECT_EQ(group.AttachToBrowser(0, 0, 640, 480, 0, "{X}"), -1);
}

TEST_F(PlayWndTest, BrowserKindsAndContainerOrigin) {
  struct Case {
    const char* className;
    int bodyHeight;
    bool ieTabs;  // a "Frame Tab" child holding a window captioned with the title
    int result;
    const char* name;
    Rect container;
  } cases[] = {
      {"Chromium", 0, false, 0, "other", MakeRect(110, 150, 640, 480)},
      {"360se6_Frame", 300, false, 0, "360", MakeRect(110, 150, 640, 480)},
      {"Navigator", 300, false, 0, "Firefox", MakeRect(110, 570, 640, 480)},  // 20 + 850 - 300
      {"IEFrame", -1, true, 0, "IE", MakeRect(0, 0, 640, 480)},
      {"IEFrame", -1, false, -1, "IE", {}},
  };
  for (const auto& c : cases) {
    HeadlessDisplay display;
    std::string title = std::string("page ") + kTitle;
    WindowId browser = display.CreateForeignWindow(title, c.className, MakeRect(100, 50, 1000, 800));
    if (c.ieTabs) {
      WindowId tab = display.CreateForeignChild(browser, MakeRect(0, 0, 1000, 800), "Frame Tab");
      display.CreateForeignChild(tab, MakeRect(0, 80, 1000, 720), "Internet Explorer_Server", title);
    } else if (c.bodyHeight != -1) {
      display.CreateForeignChild(browser, MakeRect(0, 80, 1000, 720), "Page");
    }
    CPlayWnd group(display, "", "", "", 0, 0);
    EXPECT_EQ(group.AttachToBrowser(10, 20, 640, 480, c.bodyHeight, kTitle), c.result) << c.className;
    EXPECT_EQ(group.GetBrowserName(), c.name) << c.className;
    if (c.result == 0) {
      EXPECT_EQ(*display.GetWindowRect(group.Container()), c.container) << c.className;
    }
  }
}

TEST_F(PlayWndTest, FourPaneLayoutPlacesPanesAndPaintsFrames) {
  Build(0);
  ASSERT_EQ(m_group->Arrange(4, ""), 0);
  Settle();
  auto calls = m_events.Take();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].name, "count");
  EXPECT_EQ(calls[0].pane, 4);
  EXPECT_TRUE(m_display.IsVisible(Container()));

  const Rect placed[] = {MakeRect(1, 1, 318, 238), MakeRect(321, 1, 318, 238), MakeRect(1, 241, 318, 238),
                         MakeRect(321, 241, 318, 238)};
  for (int i = 0; i < 4; ++i) {
    auto s = m_display.State(m_group->Pane(i));
    EXPECT_EQ(s->rect, placed[i]) << i;
    EXPECT_TRUE(s->visible) << i;
  }
  for (int i = 4; i < CPlayWnd::kPanes; ++i) EXPECT_FALSE(m_display.State(m_group->Pane(i))->visible) << i;

  // Background, three grey frames, then the highlight of pane 0 as four lines.
  auto drawn = Drawn();
  ASSERT_EQ(drawn.size(), 8u);
  EXPECT_EQ(drawn[0].kind, DrawCall::Kind::Fill);
  EXPECT_EQ(drawn[0].rect, (Rect{0, 0, 640, 480}));
  EXPECT_EQ(drawn[1].kind, DrawCall::Kind::Rectangle);
  EXPECT_EQ(drawn[1].rect, (Rect{320, -1, 641, 240}));
  EXPECT_EQ(drawn[1].pen->color, MakeColor(0x6C, 0x6C, 0x6C));
  for (int i = 4; i < 8; ++i) {
    EXPECT_EQ(drawn[i].kind, DrawCall::Kind::Line);
    EXPECT_EQ(drawn[i].pen->color, MakeColor(255, 204, 0));
    EXPECT_EQ(drawn[i].pen->width, 2);
  }
  EXPECT_EQ(drawn[4].from, (Point{0, 0}));
  EXPECT_EQ(drawn[4].to, (Point{0, 240}));
  EXPECT_EQ(m_group->PaneStates(), (std::map<int, int>{{0, 0}, {1, 0}, {2, 0}, {3, 0}}));

  // A pane whose channel stopped paints its background again, once.
  WindowId pane1 = m_group->Pane(1);
  m_display.ClearDrawCalls(pane1);
  m_group->Refresh(1);
  m_display.Flush(pane1);
  auto filled = m_display.State(pane1)->drawCalls;
  ASSERT_EQ(filled.size(), 1u);
  EXPECT_EQ(filled[0].rect, (Rect{0, 0, 319, 239}));
  m_display.Invalidate(pane1);
  m_display.Flush(pane1);
  EXPECT_EQ(m_display.State(pane1)->drawCalls.size(), 1u);
}

TEST_F(PlayWndTest, SinglePaneShowsPaneZeroOrTheSelectedOneWithoutHighlight) {
  Build(4);
  m_group->m_selected = 2;
  ASSERT_EQ(m_group->Arrange(1, ""), 0);
  Settle();
  EXPECT_EQ(m_group->m_selected, 0);
  EXPECT_EQ(m_display.State(m_group->Pane(0))->rect, MakeRect(1, 1, 638, 478));
  for (int i = 1; i < 4; ++i) EXPECT_FALSE(m_display.State(m_group->Pane(i))->visible);
  for (const auto& d : Drawn()) EXPECT_EQ(d.kind, DrawCall::Kind::Fill);
  auto calls = m_events.Take();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].name, "selected");
  EXPECT_EQ(calls[1].pane, 0);

  m_group->m_selected = 2;
  ASSERT_EQ(m_group->Arrange(1, "23.1.29.230110"), 0);
  Settle();
  EXPECT_TRUE(m_display.State(m_group->Pane(2))->visible);
  EXPECT_FALSE(m_display.State(m_group->Pane(0))->visible);
  EXPECT_EQ(m_display.State(m_group->Pane(2))->rect, MakeRect(1, 1, 638, 478));
}

TEST_F(PlayWndTest, ArrangeRefusesTypesWithoutALayout) {
  Build(4);
  for (int bad : {0, -1, 65, 5001}) {
    EXPECT_EQ(m_group->Arrange(bad, ""), -1) << bad;
    EXPECT_EQ(m_group->m_paneCount, 4);
    EXPECT_EQ(m_group->m_arrangeType, 4);
  }
  EXPECT_TRUE(m_events.Take().empty());
}

TEST_F(PlayWndTest, ClickSelectsPaneNotifiesInOrderAndMovesOnlyTheHighlight) {
  Build(4);
  WindowId pane2 = m_group->Pane(2);
  m_display.InjectMouse(pane2, MouseAction::LeftDown, 5, 6);
  Settle();
  EXPECT_EQ(m_group->m_selected, 2);
  auto calls = m_events.Take();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "selected");
  EXPECT_EQ(calls[0].pane, 2);
  EXPECT_EQ(calls[0].group, Container());
  EXPECT_EQ(calls[1].name, "mouse");
  EXPECT_EQ(calls[1].width, 319);
  EXPECT_EQ(calls[1].height, 239);
  EXPECT_FALSE(calls[1].finished);
  EXPECT_EQ(calls[1].drag.startX, 5);
  EXPECT_EQ(calls[1].drag.curY, 6);

  // Only the old highlight (in the border colour) and the new one are drawn.
  auto drawn = Drawn();
  ASSERT_EQ(drawn.size(), 8u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(drawn[i].pen->color, MakeColor(0x6C, 0x6C, 0x6C));
  for (int i = 4; i < 8; ++i) EXPECT_EQ(drawn[i].pen->color, MakeColor(255, 204, 0));
  EXPECT_EQ(drawn[0].from, (Point{0, 0}));
  EXPECT_EQ(drawn[4].from, (Point{0, 240}));

  m_display.InjectMouse(pane2, MouseAction::LeftUp, 7, 8);
  calls = m_events.Take();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].finished);
  EXPECT_EQ(calls[0].drag.curX, 7);
}

TEST_F(PlayWndTest, ZoomRectangleDragStopsAtTheLeftEdge) {
  Build(4);
  m_group->GetPaneSize(0);
  ZoomRect z = m_group->SetDigitalZoom(0, 2.0f, 10.0f);
  EXPECT_EQ(z.left, 6);
  EXPECT_EQ(z.top, 23);
  WindowId pane0 = m_group->Pane(0);
  m_display.InjectMouse(pane0, MouseAction::LeftDown, 50, 50);
  m_display.InjectMouse(pane0, MouseAction::Move, 40, 60);
  auto calls = m_events.Take();
  ASSERT_EQ(calls.back().name, "zoom");
  EXPECT_EQ(calls.back().zoom.left, 6);
  EXPECT_EQ(calls.back().zoom.top, 33);
  m_display.InjectMouse(pane0, MouseAction::Move, 45, 60);
  EXPECT_EQ(m_events.Take().back().zoom.left, 11);
  float x = 0, y = 0;
  m_group->GetDigitalZoom(0, &x, &y);
  EXPECT_FLOAT_EQ(x, 1100.0f / 319);
}

TEST_F(PlayWndTest, LeavingThePaneEndsTheDrag) {
  Build(4);
  WindowId pane1 = m_group->Pane(1);
  m_display.InjectMouse(pane1, MouseAction::LeftDown, 10, 10);
  m_display.InjectMouse(pane1, MouseAction::Move, 30, 40);
  m_events.Take();
  m_display.InjectMouse(pane1, MouseAction::Leave, 400, 400);
  auto calls = m_events.Take();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].finished);
  EXPECT_EQ(calls[0].drag.curX, 30);  // the drag keeps its last point
  EXPECT_FALSE(m_group->m_mouseDown);
  m_display.InjectMouse(pane1, MouseAction::Leave, 0, 0);
  m_display.InjectMouse(pane1, MouseAction::Move, 1, 1);
  EXPECT_TRUE(m_events.Take().empty());
}

TEST_F(PlayWndTest, EscapeRestoresOnlyFromFullScreen) {
  Build(4);
  m_display.SetDesktopSize(Size{1920, 1080});
  m_display.SetFocus(Container());
  m_display.InjectKey(Container(), Key::Escape);
  EXPECT_EQ(m_group->m_width, 640);

  ASSERT_EQ(m_group->FullScreen(false), 0);
  EXPECT_EQ(m_group->m_fullScreenCount, 1);
  CPlayWnd::FollowBrowsers();
  Settle();
  EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(0, 0, 1920, 1080));
  // Browser moves are ignored while full screen.
  m_display.SetForeignRect(m_browser, MakeRect(300, 60, 1000, 800));
  CPlayWnd::FollowBrowsers();
  EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(0, 0, 1920, 1080));
  // The full-screen paint gave the container the keyboard.
  EXPECT_EQ(m_display.FocusedWindow(), Container());
  m_display.InjectKey(Container(), Key::Escape);
  EXPECT_EQ(m_group->m_fullScreenCount, 0);
  EXPECT_EQ(m_group->m_width, 640);
  EXPECT_EQ(m_display.GetWindowRect(Container())->Width(), 640);
  m_display.InjectKey(Container(), Key::Escape);
  EXPECT_EQ(m_group->m_fullScreenCount, 0);

  // A repeated fullScreen must not take the enlarged size as the one to go back to.
  ASSERT_EQ(m_group->FullScreen(false), 0);
  ASSERT_EQ(m_group->FullScreen(false), 0);
  EXPECT_EQ(m_group->m_fullScreenCount, 1);
  m_display.InjectKey(Container(), Key::Escape);
  EXPECT_EQ(m_group->m_fullScreenCount, 0);
  EXPECT_EQ(m_group->m_width, 640);
}

TEST_F(PlayWndTest, LockHidesVisibleGroupUntilReattach) {
  Build(4);
  m_display.InjectSessionLock(true);
  EXPECT_FALSE(m_display.IsVisible(Container()));
  EXPECT_TRUE(m_group->m_hiddenByLock);
  m_group->Show();  // ignored while the lock owns visibility
  EXPECT_FALSE(m_display.IsVisible(Container()));
  m_display.InjectSessionLock(false);
  EXPECT_TRUE(m_display.IsVisible(Container()));
  auto calls = m_events.Take();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "hidden");
  EXPECT_EQ(calls[0].pane, 1);
  EXPECT_EQ(calls[1].pane, 0);
  m_group->Hide();  // still ignored
  EXPECT_TRUE(m_display.IsVisible(Container()));
  WindowId before = Container();
  EXPECT_EQ(m_group->Reattach(), 0);  // only clears the lock state
  EXPECT_EQ(Container(), before);
  EXPECT_FALSE(m_group->m_hiddenByLock);

  // A group the page hid stays hidden and raises nothing.
  m_group->Hide();
  m_events.Take();
  m_display.InjectSessionLock(true);
  m_display.InjectSessionLock(false);
  EXPECT_FALSE(m_display.IsVisible(Container()));
  EXPECT_TRUE(m_events.Take().empty());
}

TEST_F(PlayWndTest, FollowTimerMovesOnlyOnChange) {
  Build(4);
  CPlayWnd::FollowBrowsers();
  int moves = m_display.MoveCount(Container());
  CPlayWnd::FollowBrowsers();
  CPlayWnd::FollowBrowsers();
  EXPECT_EQ(m_display.MoveCount(Container()), moves);
  m_display.SetForeignRect(m_browser, MakeRect(300, 60, 1000, 800));
  CPlayWnd::FollowBrowsers();
  EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(310, 160, 640, 480));
  EXPECT_EQ(m_display.MoveCount(Container()), moves + 1);
  // Hidden by the page: the timer keeps it hidden.
  m_group->Hide();
  CPlayWnd::FollowBrowsers();
  EXPECT_FALSE(m_display.IsVisible(Container()));
}

// The follow timer walks a copy of the registry: while it is inside one group's walk, lookups,
// the renderers' full-screen question and window events go on, and a group destroyed meanwhile
// is skipped instead of touched.
TEST_F(PlayWndTest, FollowTimerWalkHoldsNoRegistryLockAndSkipsDestroyedGroups) {
  Build(4);
  const char kOtherTitle[] = "{0A1B2C3D-0000-4000-8000-0000000000BB}";
  WindowId otherBrowser = m_display.CreateForeignWindow(std::string("Second page ") + kOtherTitle, "Chromium",
                                                        MakeRect(1200, 50, 600, 500));
  m_display.CreateForeignChild(otherBrowser, MakeRect(0, 80, 600, 420), "Chrome_RenderWidget");
  auto other = std::make_unique<CPlayWnd>(m_display, "", "", "", 0, 0);
  other->SetEventSink(&m_events);
  ASSERT_EQ(other->AttachToBrowser(0, 0, 320, 240, 0, kOtherTitle), 0);
  m_events.Take();

  std::future<bool> meanwhile;  // outlives the timer's thread, which it may wait for
  m_display.Arm();
  std::thread timer([] { CPlayWnd::FollowBrowsers(); });
  struct Finish {  // also when an assertion leaves early
    PausingDisplay& display;
    std::thread& timer;
    void operator()() {
      display.Release();
      if (timer.joinable()) timer.join();
    }
    ~Finish() { (*this)(); }
  } finish{m_display, timer};
  WindowId stoppedIn = m_display.WaitStopped();
  ASSERT_NE(stoppedIn, 0u);
  bool firstWalked = stoppedIn == m_browser;
  CPlayWnd& walked = firstWalked ? *m_group : *other;
  std::unique_ptr<CPlayWnd>& notYetWalked = firstWalked ? other : m_group;
  WindowId notYetWalkedBrowser = firstWalked ? otherBrowser : m_browser;

  meanwhile = std::async(std::launch::async, [&] {
    auto& manager = WndObjManager::GetInstance();
    bool found = manager.FindWnd(walked.Container()) == &walked && manager.PaneFullScreenCount(walked.Pane(0)) == 0;
    m_display.InjectMouse(walked.Pane(0), MouseAction::LeftDown, 2, 2);
    m_display.InjectMouse(walked.Pane(0), MouseAction::LeftUp, 2, 2);
    return found;
  });
  ASSERT_EQ(meanwhile.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(meanwhile.get());
  EXPECT_TRUE(m_events.WaitFor("mouse"));

  notYetWalked.reset();
  finish();
  for (WindowId listed : m_display.Listed()) EXPECT_NE(listed, notYetWalkedBrowser);
}

// A page placed by its bodyHeight keeps its distance from the browser window's top while a window
// manager moves, resizes or maximises the window, before the page tells its new height; a moveWnd
// then measures that distance again.
TEST_F(PlayWndTest, FollowTimerKeepsThePageUnderTheWindowTop) {
  m_display.SetForeignRect(m_browser, MakeRect(100, 50, 1000, 800));
  Build(4, 720);  // the page starts 80 pixels under the window's top
  ASSERT_EQ(*m_display.GetWindowRect(Container()), MakeRect(110, 150, 640, 480));
  struct Case {
    const char* what;
    Rect browser;
    Point container;
  } cases[] = {
      {"moved", MakeRect(300, 60, 1000, 800), {310, 160}},
      {"taller at the bottom", MakeRect(300, 60, 1000, 900), {310, 160}},
      {"taller at the top", MakeRect(300, 10, 1000, 950), {310, 110}},
      {"maximised", MakeRect(0, 0, 1280, 1024), {10, 100}},
      {"restored", MakeRect(100, 50, 1000, 800), {110, 150}},
  };
  for (const auto& c : cases) {
    m_display.SetForeignRect(m_browser, c.browser);
    CPlayWnd::FollowBrowsers();
    EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(c.container.x, c.container.y, 640, 480)) << c.what;
  }
  // The browser's toolbar grew by 30 pixels and the page says so.
  ASSERT_EQ(m_group->MoveTo(10, 20, 640, 480, 690), 0);
  m_display.SetForeignRect(m_browser, MakeRect(0, 0, 1280, 1024));
  CPlayWnd::FollowBrowsers();
  EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(10, 130, 640, 480));
}

TEST_F(PlayWndTest, FollowTimerBorderCorrections) {
  // Where window rectangles include the browser's borders (6 pixels, 8 when maximised).
  m_display.SetFrameCorrection(8, 6);
  m_display.SetForeignRect(m_browser, Rect{100, 100, 1100, 900});
  Build(4, 200);
  CPlayWnd::FollowBrowsers();
  EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(116, 714, 640, 480));
  m_display.SetForeignRect(m_browser, Rect{-8, -8, 1928, 892});
  CPlayWnd::FollowBrowsers();
  EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(10, 704, 640, 480));
}

TEST_F(PlayWndTest, MoveToAndRegions) {
  Build(4);
  EXPECT_TRUE(m_group->CutRegion(200, 100));
  std::vector<Point> cut = {{0, 0}, {640, 0}, {640, 380}, {440, 380}, {440, 480}, {0, 480}};
  EXPECT_EQ(m_display.State(Container())->region, cut);
  EXPECT_EQ(m_group->MoveTo(30, 40, 800, 600, 0), 0);
  EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(130, 170, 800, 600));
  EXPECT_EQ(m_display.State(Container())->region.size(), 4u);  // the cut is gone
  Settle();
  EXPECT_EQ(m_display.State(m_group->Pane(1))->rect, MakeRect(401, 1, 398, 298));
}

TEST_F(PlayWndTest, ReattachRecreatesWindowsAndLayout) {
  Build(9);
  WindowId before = Container();
  EXPECT_EQ(m_group->Reattach(), 0);
  EXPECT_NE(Container(), before);
  EXPECT_FALSE(m_display.State(before));
  EXPECT_EQ(WndObjManager::GetInstance().FindWnd(before), nullptr);
  EXPECT_EQ(WndObjManager::GetInstance().FindWnd(Container()), m_group.get());
  Settle();
  EXPECT_TRUE(m_display.State(m_group->Pane(8))->visible);
  auto calls = m_events.Take();
  EXPECT_EQ(calls.back().name, "recreated");
  EXPECT_EQ(calls.back().group, Container());
}

TEST_F(PlayWndTest, NoResourceTextOnMarkedPanesWithoutPlayer) {
  Build(4);
  m_group->SetAllPaneStates(1);
  auto hasText = [&](int pane) {
    auto state = m_display.State(m_group->Pane(pane));
    for (const auto& d : state->drawCalls)
      if (d.kind == DrawCall::Kind::TextCentered && d.text == "NO RESOURCE") return true;
    return false;
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!hasText(3) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(hasText(3));
  auto text = m_display.State(m_group->Pane(3))->drawCalls.back();
  EXPECT_EQ(text.rect, (Rect{0, 0, 318, 238}));
  EXPECT_EQ(*text.brush, MakeColor(123, 123, 123));
  EXPECT_EQ(text.font.height, 38);  // narrower than the 40 px text needs: a smaller font, not a clipped word
  m_group->SetAllPaneStates(0);
  EXPECT_EQ(m_group->PaneStates().at(3), 0);
}

TEST_F(PlayWndTest, DoubleClickAndPaneFullScreen) {
  m_display.SetMonitors({Monitor{1, Rect{0, 0, 1920, 1080}, Rect{0, 0, 1920, 1080}, "primary", true}});
  Build(4);
  m_group->m_ratioType = 2;
  m_events.player = 7;
  m_display.InjectMouse(m_group->Pane(1), MouseAction::LeftDoubleClick, 3, 3);
  auto calls = m_events.Take();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "double");
  EXPECT_FALSE(calls[1].hasDrag);

  ASSERT_EQ(m_group->FullScreen(true), 0);
  EXPECT_EQ(m_group->m_fullScreenCount, 1);
  // The dialog covers the primary screen; its video window has the 4:3 area.
  WindowId dialog = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (dialog == 0 && std::chrono::steady_clock::now() < deadline) {
    for (const auto& t : m_display.ListTopLevelWindows()) {
      auto s = m_display.State(t.id);
      if (s && s->topmost && s->visible) dialog = t.id;
    }
    if (!dialog) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_NE(dialog, 0u);
  EXPECT_EQ(*m_display.GetWindowRect(dialog), MakeRect(0, 0, 1920, 1080));
  auto video = m_display.ListChildren(dialog);
  ASSERT_EQ(video.size(), 1u);
  EXPECT_EQ(*m_display.GetWindowRect(video[0]), MakeRect(240, 0, 1440, 1080));
  // The container is the dialog's owner: a repaint must not take the keyboard from the dialog, and
  // an Escape that reaches the container anyway must not shrink it to a size never saved.
  m_display.Invalidate(Container());
  Settle();
  EXPECT_NE(m_display.FocusedWindow(), Container());
  m_display.InjectKey(Container(), Key::Escape);
  EXPECT_EQ(m_group->m_fullScreenCount, 1);
  EXPECT_EQ(m_group->m_width, 640);
  // A drag on the dialog is reported with the screen size.
  m_display.InjectMouse(dialog, MouseAction::LeftDown, 100, 100);
  EXPECT_EQ(m_events.Take().back().width, 1920);
  m_display.InjectMouse(dialog, MouseAction::LeftUp, 100, 100);
  m_events.Take();
  m_display.InjectMouse(dialog, MouseAction::LeftDoubleClick, 100, 100);
  ASSERT_TRUE(m_events.WaitFor("mouse"));
  EXPECT_EQ(m_group->m_fullScreenCount, 0);
  m_group.reset();  // joins the full-screen thread
  EXPECT_FALSE(m_display.State(dialog));
}

// A group destroyed while its pane full screen is still starting: the dialog that comes up
// meanwhile goes with the group instead of keeping the destruction waiting for a user to close it.
TEST_F(PlayWndTest, DestroyWhilePaneFullScreenStarts) {
  Build(4);
  m_events.player = 7;  // the sink still answers for the pane while the group goes
  m_display.HoldTopmost();  // the dialog is made only once the destruction is under way
  ASSERT_EQ(m_group->FullScreen(true), 0);
  auto destroyed = std::async(std::launch::async, [this] { m_group.reset(); });
  bool ended = destroyed.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  auto dialogs = [this] {
    std::vector<WindowId> out;
    for (const auto& t : m_display.ListTopLevelWindows())
      if (auto state = m_display.State(t.id); state && state->topmost) out.push_back(t.id);
    return out;
  };
  if (!ended) {
    // Close what the destruction waits for, so that the test ends and reports.
    for (WindowId dialog : dialogs()) m_display.Destroy(dialog);
    destroyed.wait();
  }
  EXPECT_TRUE(ended) << "the destruction waited for the full-screen dialog";
  EXPECT_TRUE(dialogs().empty()) << "a dialog outlived its group";
}

TEST_F(PlayWndTest, PaneFullScreenClosesAtOnceWithoutPlayer) {
  Build(1);
  m_events.player = -1;
  ASSERT_EQ(m_group->FullScreen(false), 0);  // one pane: the pane full screen
  ASSERT_TRUE(m_events.WaitFor("mouse"));
  m_group.reset();
}

}  // namespace
