// The page's window commands through the dispatcher, on the headless display.
#include <gtest/gtest.h>

#include "NoWaits.h"
#include "platform/display/headless/HeadlessDisplay.h"
#include "service/protocol/CommandDispatcher.h"
#include "service/protocol/EventRouter.h"
#include "service/protocol/ResourceGuard.h"
#include "service/windows/CPlayWnd.h"
#include "tests/unit/protocol/ProtocolFixture.h"

using namespace platform::display;

namespace {

constexpr platform::net::SocketHandle kSocket = 7;
const std::string kId = "{11111111-2222-3333-4444-555555555555}";
const std::string kRect = R"("rect":{"left":10,"top":20,"width":640,"height":480,"bodyHeight":300})";

class WindowCommandsTest : public ::testing::Test {
 protected:
  WindowCommandsTest()
      : m_router(m_sessions.m_table, m_writer),
        m_context{m_sessions.m_table, m_router, m_writer, m_dialogOpen, m_folder.File("config.ini"), m_folder.Path(),
                  m_display},
        m_dispatcher(m_context),
        m_session(m_sessions.Add(kSocket, kId)) {
    UseNoWaits();
    m_browser = m_display.CreateForeignWindow("Page " + kId + " - Firefox", "Navigator", MakeRect(100, 50, 1000, 800));
  }
  ~WindowCommandsTest() override {
    // Groups go before the display they live on.
    for (auto& entry : m_sessions.m_table.m_sessions) entry.second->m_pWnd.reset();
  }

  std::string Execute(const std::string& text) { return m_dispatcher.ExecuteCommand(kSocket, kId, text); }
  static std::string Reply(const std::string& cmd, const std::string& data) {
    return R"({"cmd":")" + cmd + R"(","data":)" + data + R"(,"sequence":"","uuid":")" + kId + R"("})";
  }
  WindowId Container() { return m_session.m_pWnd->Container(); }

  HeadlessDisplay m_display;
  TempFolder m_folder;
  SessionsHolder m_sessions;
  RecordingWriter m_writer;
  std::atomic<bool> m_dialogOpen{false};
  EventRouter m_router;
  ServiceContext m_context;
  CommandDispatcher m_dispatcher;
  CSession& m_session;
  WindowId m_browser = 0;
};

TEST_F(WindowCommandsTest, CreateArrangeSelectAndDestroy) {
  EXPECT_EQ(Execute(R"({"cmd":"createWnd","data":{)" + kRect +
                    R"x(,"style":{"wndColor":"#102030","borderColor":"#GG0000","highlightColor":"(0,255,0)","borderPixel":0,"highlightPixel":3}}})x"),
            Reply("createWnd", R"({"errorCode":0,"browser":"Firefox"})"));
  ASSERT_TRUE(m_session.m_pWnd);
  CPlayWnd& group = *m_session.m_pWnd;
  EXPECT_EQ(group.m_background, MakeColor(0x10, 0x20, 0x30));
  EXPECT_EQ(group.m_borderPen.color, MakeColor(0x6C, 0x6C, 0x6C));  // did not convert: the default
  EXPECT_EQ(group.m_highlightPen.color, MakeColor(0, 255, 0));
  EXPECT_EQ(group.m_highlightPen.width, 3);
  // Firefox kind: from the browser window's bottom, 20 + 850 - 300.
  EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(110, 570, 640, 480));

  // A second createWnd does nothing.
  EXPECT_EQ(Execute(R"({"cmd":"createWnd","data":{)" + kRect + "}}"), Reply("createWnd", R"({"errorCode":0,"browser":""})"));
  EXPECT_EQ(m_session.m_pWnd.get(), &group);

  EXPECT_EQ(Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":0}})"), Reply("arrangeWnd", R"({"errorCode":-1})"));
  EXPECT_FALSE(m_display.IsVisible(Container()));
  EXPECT_EQ(Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":4}})"), Reply("arrangeWnd", R"({"errorCode":0})"));
  m_display.Flush(Container());
  EXPECT_TRUE(m_display.IsVisible(Container()));

  // A click on pane 2 tells the page which pane is selected.
  m_writer.m_sent.clear();
  m_display.InjectMouse(group.Pane(2), MouseAction::LeftDown, 4, 4);
  m_display.InjectMouse(group.Pane(2), MouseAction::LeftUp, 4, 4);
  ASSERT_EQ(m_writer.m_sent.size(), 1u);
  EXPECT_EQ(m_writer.m_sent[0].text, Reply("onGetSelectWndIndex", R"({"errorCode":0,"wndIndex":2,"channel":-1})"));
  EXPECT_EQ(Execute(R"({"cmd":"getSelectWndIndex"})"),
            Reply("getSelectWndIndex", R"({"errorCode":0,"wndIndex":2,"channel":-1})"));

  EXPECT_EQ(Execute(R"({"cmd":"cuttingPartWnd","data":{"rect":{"width":200,"height":100}}})"),
            Reply("cuttingPartWnd", R"({"errorCode":0})"));
  EXPECT_EQ(m_display.State(Container())->region.size(), 6u);
  Execute(R"({"cmd":"repairPartWnd"})");
  EXPECT_EQ(m_display.State(Container())->region.size(), 4u);
  Execute(R"({"cmd":"setWndRatio","data":{"ratioType":2}})");
  EXPECT_EQ(group.m_ratioType, 2);
  Execute(R"({"cmd":"corridorModeStatus","data":{"status":true}})");
  EXPECT_TRUE(group.m_corridorMode);
  Execute(R"({"cmd":"moveWnd","data":{"rect":{"left":0,"top":0,"width":320,"height":240,"bodyHeight":300}}})");
  EXPECT_EQ(*m_display.GetWindowRect(Container()), MakeRect(100, 550, 320, 240));

  WindowId container = Container();
  EXPECT_EQ(Execute(R"({"cmd":"destroyWnd"})"), Reply("destroyWnd", R"({"errorCode":0})"));
  EXPECT_EQ(m_session.m_pWnd, nullptr);
  EXPECT_FALSE(m_display.State(container));
}

// Renderers ask for every frame whether their pane's group is full screen; the answer follows the
// group through Escape, new windows and its end.
TEST_F(WindowCommandsTest, PaneFullScreenFollowsTheGroup) {
  Execute(R"({"cmd":"createWnd","data":{)" + kRect + "}}");
  Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":4}})");
  WindowId pane = m_session.m_pWnd->Pane(2);
  EXPECT_FALSE(m_router.IsPaneFullScreen(pane));
  Execute(R"({"cmd":"fullScreen"})");
  EXPECT_TRUE(m_router.IsPaneFullScreen(pane));
  EXPECT_FALSE(m_router.IsPaneFullScreen(m_browser));
  EXPECT_FALSE(m_router.IsPaneFullScreen(0));
  m_display.SetFocus(Container());
  m_display.InjectKey(Container(), Key::Escape);
  EXPECT_FALSE(m_router.IsPaneFullScreen(pane));

  Execute(R"({"cmd":"fullScreen"})");
  Execute(R"({"cmd":"updateWebWnd"})");
  WindowId newPane = m_session.m_pWnd->Pane(2);
  ASSERT_NE(newPane, pane);
  EXPECT_TRUE(m_router.IsPaneFullScreen(newPane));
  EXPECT_FALSE(m_router.IsPaneFullScreen(pane));
  Execute(R"({"cmd":"destroyWnd"})");
  EXPECT_FALSE(m_router.IsPaneFullScreen(newPane));
}

TEST_F(WindowCommandsTest, HideAndShowWaitForReattachAfterALock) {
  Execute(R"({"cmd":"createWnd","data":{)" + kRect + "}}");
  Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":1}})");
  m_display.Flush(Container());
  Execute(R"({"cmd":"hideWnd"})");
  EXPECT_FALSE(m_display.IsVisible(Container()));
  Execute(R"({"cmd":"showWnd"})");
  EXPECT_TRUE(m_display.IsVisible(Container()));
  EXPECT_EQ(m_display.FocusedWindow(), Container());

  m_display.InjectSessionLock(true);
  m_display.InjectSessionLock(false);
  Execute(R"({"cmd":"hideWnd"})");
  EXPECT_TRUE(m_display.IsVisible(Container()));
  WindowId before = Container();
  EXPECT_EQ(Execute(R"({"cmd":"updateWebWnd"})"), Reply("updateWebWnd", R"({"errorCode":0})"));
  EXPECT_EQ(Container(), before);
  Execute(R"({"cmd":"hideWnd"})");
  EXPECT_FALSE(m_display.IsVisible(Container()));
  // Now updateWebWnd builds new windows.
  EXPECT_EQ(Execute(R"({"cmd":"updateWebWnd"})"), Reply("updateWebWnd", R"({"errorCode":0})"));
  EXPECT_NE(Container(), before);
}

TEST_F(WindowCommandsTest, WithoutAGroupCommandsAnswerZeroAndDoNothing) {
  const struct {
    std::string message, reply;
  } cases[] = {
      {R"({"cmd":"getSelectWndIndex"})", Reply("getSelectWndIndex", R"({"errorCode":0,"wndIndex":-1,"channel":-1})")},
      {R"({"cmd":"corridorModeStatus","data":{"status":true}})", Reply("corridorModeStatus", R"({"errorCode":0})")},
      {R"({"cmd":"cuttingPartWnd","data":{"rect":{"width":2,"height":1}}})", Reply("cuttingPartWnd", R"({"errorCode":0})")},
      {R"({"cmd":"repairPartWnd"})", Reply("repairPartWnd", R"({"errorCode":0})")},
      {R"({"cmd":"arrangeWnd","data":{"arrangeType":4}})", Reply("arrangeWnd", R"({"errorCode":0})")},
      {R"({"cmd":"updateWebWnd"})", Reply("updateWebWnd", R"({"errorCode":0})")},
      {R"({"cmd":"fullScreen"})", Reply("fullScreen", R"({"errorCode":0})")},
      {R"({"cmd":"destroyWnd"})", Reply("destroyWnd", R"({"errorCode":0})")},
  };
  for (const auto& c : cases) EXPECT_EQ(Execute(c.message), c.reply) << c.message;
  EXPECT_EQ(m_session.m_pWnd, nullptr);
}

TEST_F(WindowCommandsTest, CreateFailsWhenNoBrowserShowsTheSession) {
  m_display.SetForeignCaption(m_browser, "Another page");
  EXPECT_EQ(Execute(R"({"cmd":"createWnd","data":{)" + kRect + "}}"), Reply("createWnd", R"({"errorCode":-1,"browser":"other"})"));
  // The group stays with the session, without windows.
  ASSERT_TRUE(m_session.m_pWnd);
  EXPECT_EQ(Container(), 0u);
  EXPECT_EQ(Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":4}})"), Reply("arrangeWnd", R"({"errorCode":0})"));
}

// The guard walks every group from the timer thread while the page makes, re-attaches and destroys
// its group (under the thread checker this proves the guard never reaches a group being deleted).
TEST_F(WindowCommandsTest, ResourceGuardWhileGroupsComeAndGo) {
  ResourceGuard guard(m_sessions.m_table, m_router,
                      {[] { return std::optional<double>(90.0); }, [] { return std::optional<int>(10); }});
  std::atomic<bool> done{false};
  std::thread timer([&] {
    for (int i = 0; i < 20000 && !done; ++i) guard.CheckResource();
  });
  for (int i = 0; i < 4; ++i) {
    Execute(R"({"cmd":"createWnd","data":{)" + kRect + "}}");
    Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":4}})");
    Execute(R"({"cmd":"updateWebWnd","data":{}})");
    Execute(R"({"cmd":"destroyWnd","data":{}})");
  }
  done = true;
  timer.join();
  EXPECT_FALSE(m_session.m_pWnd);
}

}  // namespace
