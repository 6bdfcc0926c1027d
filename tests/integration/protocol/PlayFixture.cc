#include "PlayFixture.h"

#include <thread>

using namespace platform::display;

PlayFixture::PlayFixture()
    : m_router(m_sessions.m_table, m_inbox),
      m_context{m_sessions.m_table, m_router, m_inbox, m_dialogOpen, m_folder.File("config.ini"), m_folder.Path(),
                m_display} {
  UseNoWaits();
  SetDebugLogSink([this](const std::string& line) { m_inbox.Log(line); });
  m_dispatcher = std::make_unique<CommandDispatcher>(m_context);
  m_session = &m_sessions.Add(kSocket, kId);
  m_session->m_serial = 1;
  m_browser = m_display.CreateForeignWindow(std::string("Page ") + kId + " - Chromium", "chromium",
                                            MakeRect(100, 50, 1000, 800));
  const char* other = std::getenv("NIMBREL_SOURCE_BIN");
  std::string binary = other ? other : std::string(NIMBREL_RUN_DIR) + "/nimbrel-source";
  EXPECT_TRUE(m_source.Start(binary, NIMBREL_SOURCE_DIR, "")) << "nimbrel-source did not start";
}

PlayFixture::~PlayFixture() {
  // The session goes as the host lets it go: out of the table first, then deleted, which stops
  // its channels while the router they report to still exists.
  std::map<platform::net::SocketHandle, std::unique_ptr<CSession>> sessions;
  {
    std::lock_guard<std::mutex> lock(m_sessions.m_table.m_sessionsMutex);
    sessions.swap(m_sessions.m_table.m_sessions);
  }
  sessions.clear();
  m_dispatcher.reset();
  SetDebugLogSink(nullptr);
}

Reply PlayFixture::Execute(const std::string& text) {
  Reply reply;
  std::string answer = m_dispatcher->ExecuteCommand(kSocket, kId, text);
  if (!answer.empty()) reply.json.Parse(answer.c_str());
  return reply;
}

void PlayFixture::CreateGroup(int panes, int width, int height) {
  std::string rect = R"({"left":10,"top":20,"width":)" + std::to_string(width) + R"(,"height":)" +
                     std::to_string(height) + R"(,"bodyHeight":700})";
  ASSERT_EQ(Execute(R"({"cmd":"createWnd","data":{"rect":)" + rect + "}}").ErrorCode(), 0);
  ASSERT_EQ(Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":)" + std::to_string(panes) + "}}").ErrorCode(), 0);
  m_display.Flush(Group().Container());
}

std::string PlayFixture::Url(const std::string& query) const {
  return "ws://127.0.0.1:" + std::to_string(m_source.Port()) + "/camera?" + query;
}

std::string PlayFixture::StartText(const std::string& cmd, const std::string& url, int pane, int channel,
                                   const std::string& sessionID, const std::string& moreData) const {
  return R"({"cmd":")" + cmd + R"(","data":{"url":")" + url + R"(","wndIndex":)" + std::to_string(pane) +
         R"(,"playParam":{"videoCoder":96,"audioCoder":0,"frameRate":25,"bitRate":0,"width":640,"height":360},)"
         R"("requestJson":{"action":"play","data":{"channel":)" +
         std::to_string(channel) + R"(,"sessionID":")" + sessionID + "\"" + moreData + "}}}}";
}

std::optional<HeadlessFrame> PlayFixture::WaitFrame(int pane, const std::function<bool(const HeadlessFrame&)>& accept) {
  std::optional<HeadlessFrame> frame;
  bool accepted = WaitUntil([&] {
    frame = m_display.LastFrame(Group().Pane(pane));
    return frame && accept(*frame);
  });
  return accepted ? frame : std::nullopt;
}

int PlayFixture::PresentCount(int pane) {
  auto frame = m_display.LastFrame(Group().Pane(pane));
  return frame ? frame->presentCount : 0;
}

bool PlayFixture::WaitPresented(int pane, int more, std::chrono::milliseconds timeout) {
  int target = PresentCount(pane) + more;
  return WaitUntil([&] { return PresentCount(pane) >= target; }, timeout);
}

bool PlayFixture::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool RedBlockInPlace(const HeadlessFrame& frame) {
  auto red = [&](int x, int y) {
    const std::uint8_t* p = &frame.bgra[(static_cast<size_t>(y) * frame.width + x) * 4];
    return p[2] > 200 && p[1] < 70 && p[0] < 70;
  };
  int w = frame.width, h = frame.height;
  if (w < 16 || h < 16 || frame.bgra.size() < static_cast<size_t>(w) * h * 4) return false;
  // Inside the block, a little away from its edges (scaling blurs them); then outside it.
  return red(w / 8, h / 8) && red(w / 4 - 3, h / 4 - 3) && red(2, 2) && !red(w / 4 + 3, h / 8) &&
         !red(w / 8, h / 4 + 3) && !red(w / 2, h / 2);
}
