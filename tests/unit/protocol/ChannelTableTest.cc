// The command thread starts and stops channels while window and channel threads walk the same
// table through IEvent: under the sanitizers this shows that no walk meets a channel being
// destroyed; and a notice of a channel already gone sends nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "ProtocolFixture.h"
#include "platform/display/headless/HeadlessDisplay.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/CommandDispatcher.h"
#include "service/protocol/EventRouter.h"
#include "service/windows/CPlayWnd.h"
#include "tests/unit/windows/NoWaits.h"

using namespace platform::display;

namespace {

constexpr platform::net::SocketHandle kSocket = 4;
const std::string kId = "{AAAAAAAA-2222-3333-4444-555555555555}";

// Writes may come from several threads here.
class LockedWriter : public IConnectionWriter {
 public:
  bool SendText(CSession&, const std::string& text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts.push_back(text);
    return true;
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::move(m_texts);
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_texts;
};

class ChannelTableTest : public ::testing::Test {
 protected:
  ChannelTableTest()
      : m_router(m_sessions.m_table, m_writer),
        m_context{m_sessions.m_table, m_router, m_writer, m_dialogOpen, m_folder.File("config.ini"), m_folder.Path(),
                  m_display},
        m_dispatcher(m_context),
        m_session(m_sessions.Add(kSocket, kId)) {
    UseNoWaits();
    m_display.CreateForeignWindow("Page " + kId, "Navigator", MakeRect(0, 0, 800, 600));
  }
  // As the service does: out of the table under its mutex (the group's window thread may be
  // walking it to paint), destroyed after.
  ~ChannelTableTest() override {
    std::unique_ptr<CPlayWnd> wnd;  // after the channels, as before
    std::map<int32_t, std::unique_ptr<PlayChannel>> channels;
    {
      std::lock_guard<std::mutex> lock(m_sessions.m_table.m_sessionsMutex);
      channels.swap(m_session.m_channels);
      wnd = std::move(m_session.m_pWnd);
    }
  }
  std::string Execute(const std::string& text) { return m_dispatcher.ExecuteCommand(kSocket, kId, text); }
  // A start whose channel connects nowhere (no URL), so only the table changes.
  static std::string Start(int pane, int camera) {
    return R"({"cmd":"startPlay","data":{"url":"","wndIndex":)" + std::to_string(pane) +
           R"(,"playParam":{"videoCoder":96,"audioCoder":0,"frameRate":25,"bitRate":0,"width":64,"height":64},)"
           R"("requestJson":{"data":{"channel":)" +
           std::to_string(camera) + R"(,"sessionID":"s"}}}})";
  }
  std::vector<std::string> Keys() {
    std::lock_guard<std::mutex> lock(m_sessions.m_table.m_sessionsMutex);
    std::vector<std::string> keys;
    for (auto& entry : m_session.m_channels) keys.push_back(entry.second->ChannelKey());
    return keys;
  }

  HeadlessDisplay m_display;
  TempFolder m_folder;
  SessionsHolder m_sessions;
  LockedWriter m_writer;
  std::atomic<bool> m_dialogOpen{false};
  EventRouter m_router;
  ServiceContext m_context;
  CommandDispatcher m_dispatcher;
  CSession& m_session;
};

TEST_F(ChannelTableTest, WalksNeverMeetAChannelBeingDestroyed) {
  Execute(R"({"cmd":"createWnd","data":{"rect":{"left":0,"top":0,"width":320,"height":240,"bodyHeight":600}}})");
  Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":4}})");
  ASSERT_TRUE(m_session.m_pWnd);
  WindowId container = m_session.m_pWnd->Container();

  std::atomic<bool> done{false};
  std::thread walker([&] {
    while (!done) {
      for (const std::string& key : Keys()) m_router.OnChannelEvent(key, "notice", "4003", 1, 0);
      for (int pane = 0; pane < 4; ++pane) {
        m_router.GetPlayerHandle(container, pane);
        DragRect drag{1, 1, 30, 30};
        m_router.OnWndMouse(container, pane, 100, 100, &drag, true);
      }
      m_router.OnWndPainted(container);
      m_router.OnWndHidden(container, 0);
      m_router.OnPaneCountChanged(container, 4);
    }
  });
  for (int round = 0; round < 200; ++round) {
    Execute(Start(round % 4, round % 3));  // camera 0..2: starts again replace in place
    if (round % 5 == 0) Execute(R"({"cmd":"stopPlay","data":{"channel":-1,"requestJson":{}}})");
    if (round % 7 == 0) Execute(R"({"cmd":"stopPlayBack","data":{"wndIndex":1,"requestJson":{}}})");
  }
  done = true;
  walker.join();

  // A channel that has gone reports nothing; one still there is heard.
  std::vector<std::string> keys = Keys();
  ASSERT_FALSE(keys.empty());
  Execute(R"({"cmd":"stopPlay","data":{"channel":-1,"requestJson":{}}})");
  m_writer.Take();
  m_router.OnChannelEvent(keys[0], "notice", "4003", 1, 0);
  EXPECT_TRUE(m_writer.Take().empty());
  Execute(Start(2, 9));
  m_router.OnChannelEvent(Keys()[0], "notice", "4003", 9, 2);
  std::vector<std::string> sent = m_writer.Take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].find(R"("errorCode":4003,"wndIndex":2,"channel":9)"), std::string::npos) << sent[0];
}

}  // namespace
