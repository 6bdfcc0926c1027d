#pragma once
// The service's command half in this process, on the headless display (so the frames the AV
// library presents into a pane can be read back), with the real play channels, the real AV
// library and a real nimbrel-source. A stand-in browser window carries the session id.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "common/DebugLog.h"
#include "platform/display/headless/HeadlessDisplay.h"
#include "service/protocol/CommandDispatcher.h"
#include "service/protocol/EventRouter.h"
#include "service/windows/CPlayWnd.h"
#include "tests/integration/stream/SourceProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/unit/protocol/ProtocolFixture.h"
#include "tests/unit/windows/NoWaits.h"

// What reached the page besides direct replies (notices, late replies), and the debug log;
// written by channel, window and timer threads.
class PageInbox : public IConnectionWriter {
 public:
  bool SendText(CSession& session, const std::string& text) override {
    if (session.m_closed) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts.push_back(text);
    m_changed.notify_all();
    return true;
  }
  void Log(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.push_back(line);
  }
  // Waits for a text containing every part; "" at the time-out.
  std::string Wait(const std::vector<std::string>& parts, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::string found;
    m_changed.wait_for(lock, timeout, [&] {
      for (const std::string& text : m_texts) {
        bool all = true;
        for (const std::string& part : parts) all = all && text.find(part) != std::string::npos;
        if (all) {
          found = text;
          return true;
        }
      }
      return false;
    });
    return found;
  }
  int Count(const std::string& part) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const std::string& text : m_texts) n += text.find(part) != std::string::npos;
    return n;
  }
  int LogCount(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const std::string& l : m_log) n += l == line;
    return n;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_texts;
  std::vector<std::string> m_log;
};

// A parsed reply.
struct Reply {
  rapidjson::Document json;
  int Int(const char* key) const {
    const auto& data = json["data"];
    return data.HasMember(key) && data[key].IsInt() ? data[key].GetInt() : -12345;
  }
  int ErrorCode() const { return Int("errorCode"); }
};

class PlayFixture : public ::testing::Test {
 protected:
  static constexpr platform::net::SocketHandle kSocket = 7;
  static constexpr const char* kId = "{11111111-2222-3333-4444-555555555555}";

  PlayFixture();
  ~PlayFixture() override;

  // Runs one command; an empty reply (no answer now) leaves `json` null.
  Reply Execute(const std::string& text);
  // createWnd over the stand-in browser (width x height) and arrangeWnd `panes`.
  void CreateGroup(int panes, int width = 640, int height = 480);
  CPlayWnd& Group() { return *m_session->m_pWnd; }
  // The source's URL with `query`.
  std::string Url(const std::string& query) const;
  // startPlay / startPlayBack text of camera `channel` into `pane`.
  std::string StartText(const std::string& cmd, const std::string& url, int pane, int channel,
                        const std::string& sessionID, const std::string& moreData = "") const;

  // The pane's last presented frame once `accept` holds; none when it did not within 20 s.
  std::optional<platform::display::HeadlessFrame> WaitFrame(
      int pane, const std::function<bool(const platform::display::HeadlessFrame&)>& accept);
  // Waits until the pane has presented `more` frames beyond what it had; false at the time-out.
  bool WaitPresented(int pane, int more, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  int PresentCount(int pane);
  // Waits for `condition` to hold, polling; false at the time-out.
  static bool WaitUntil(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));

  platform::display::HeadlessDisplay m_display;
  TempFolder m_folder;
  SessionsHolder m_sessions;
  PageInbox m_inbox;
  std::atomic<bool> m_dialogOpen{false};
  EventRouter m_router;
  ServiceContext m_context;
  std::unique_ptr<CommandDispatcher> m_dispatcher;
  CSession* m_session;
  platform::display::WindowId m_browser = 0;
  SourceProcess m_source;
};

// The source's red block fills the top-left quarter of the picture, wherever the picture was
// scaled to: its corner region is red and the rest is not.
bool RedBlockInPlace(const platform::display::HeadlessFrame& frame);
