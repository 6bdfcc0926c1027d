#pragma once
// Play channels against a real nimbrel-source and the real AV library, presenting into windows
// of the headless display backend; a recording IEvent stands in for the server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/events/IEvent.h"
#include "service/media/PlayChannel.h"
#include "tests/integration/stream/SourceProcess.h"
#include "tests/unit/vxavplayer/MediaFixtures.h"

namespace channeltest {

struct Notice {
  std::string key, event, value;
  int camera = 0, pane = 0;
};

// What a channel told the server. Any thread.
class RecordingEvents : public IEvent {
 public:
  std::atomic<bool> fullScreen{false};

  void OnChannelEvent(const std::string& key, const std::string& event, const std::string& value, int camera,
                      int pane) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notices.push_back(Notice{key, event, value, camera, pane});
    m_cv.notify_all();
  }
  void RequestPaneRepaint(WindowHandle pane) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_repaints.push_back(pane);
    m_cv.notify_all();
  }
  bool IsPaneFullScreen(WindowHandle) override { return fullScreen; }

  // Waits for `count` notices named `event`; all notices so far.
  std::vector<Notice> WaitNotices(const std::string& event, size_t count = 1) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_for(lock, std::chrono::seconds(30), [&] { return CountLocked(event) >= count; });
    return m_notices;
  }
  size_t Count(const std::string& event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return CountLocked(event);
  }
  bool WaitRepaint(WindowHandle pane) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::seconds(30), [&] {
      for (auto w : m_repaints)
        if (w == pane) return true;
      return false;
    });
  }

  void OnWndSelected(WindowHandle, int) override {}
  void OnWndMouse(WindowHandle, int, int, int, const DragRect*, bool) override {}
  void OnZoomRectChanged(WindowHandle, int, const ZoomRect*) override {}
  void OnWndDoubleClick(WindowHandle, int) override {}
  int GetPlayerHandle(WindowHandle, int) override { return 0; }
  void OnWndPainted(WindowHandle) override {}
  void OnWndHidden(WindowHandle, int) override {}
  void OnWndRecreated(WindowHandle) override {}
  void OnPaneCountChanged(WindowHandle, int) override {}
  void OnTextMessage(const std::string&) override {}

 private:
  size_t CountLocked(const std::string& event) {
    size_t n = 0;
    for (const auto& notice : m_notices) n += notice.event == event ? 1 : 0;
    return n;
  }
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<Notice> m_notices;
  std::vector<WindowHandle> m_repaints;
};

// Frames the library accepted, in order (feed thread).
class FedLog {
 public:
  PlayChannel::Options Options(std::chrono::milliseconds reconnectDelay = std::chrono::milliseconds(1000)) {
    PlayChannel::Options options;
    options.reconnectDelay = reconnectDelay;
    options.onFed = [this](std::uint32_t time, int kind) {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (kind == 0) m_video.push_back(time);
    };
    return options;
  }
  std::vector<std::uint32_t> Video() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_video;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::uint32_t> m_video;
};

inline PlayChannel::Options WithReconnectDelay(std::chrono::milliseconds delay) {
  PlayChannel::Options options;
  options.reconnectDelay = delay;
  return options;
}

// How a test starts a channel.
struct StartArgs {
  std::string query = "codec=h264";  // nimbrel-source query of the URL
  std::string request = R"({"action":"play","data":{"channel":1,"sessionID":"s"}})";
  bool playback = false;
  int pane = 0;
  int paneCount = 4;
  int width = 320;
  int height = 180;
  bool dxva = false;
};

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartSource()) << "nimbrel-source did not start"; }

  bool StartSource(int port = 0) {
    m_source = std::make_unique<SourceProcess>();
    const char* other = std::getenv("NIMBREL_SOURCE_BIN");
    return m_source->Start(other ? other : std::string(NIMBREL_RUN_DIR) + "/nimbrel-source", NIMBREL_SOURCE_DIR, "",
                           port);
  }
  std::string Url(const std::string& query) const {
    return "ws://127.0.0.1:" + std::to_string(m_source->Port()) + "/live?" + query;
  }

  // A started channel playing into a new pane window of `args.width` x `args.height`. The start
  // description is left empty: the channel learns the stream from its frames. The sink and the
  // pane size are given before the start, as the dispatcher does: the client thread may raise a
  // notice before StartStream has even returned.
  std::unique_ptr<PlayChannel> Start(const StartArgs& args, PlayChannel::Options options = {}) {
    m_window = m_output.AddWindow(args.width, args.height);
    auto channel = std::make_unique<PlayChannel>(std::move(options));
    channel->SetEventSink(m_events);
    channel->SetPaneWidth(args.width);
    channel->SetPaneHeight(args.height);
    StreamDescription description{};
    EXPECT_EQ(channel->StartStream(Url(args.query), args.request, m_window, description, args.playback, args.pane,
                                   "{KEY-" + std::to_string(args.pane) + "}", args.paneCount, args.dxva),
              0);
    return channel;
  }

  // Waits for `count` more presents into the current window.
  bool WaitMorePresents(int count) { return m_output.WaitPresents(m_window, m_output.Presents(m_window) + count); }

  vxtest::HeadlessOutput m_output;
  RecordingEvents m_events;
  std::unique_ptr<SourceProcess> m_source;
  platform::display::WindowId m_window = 0;
};

// Waits up to 30 s for `done`, checking every few milliseconds.
template <typename F>
bool WaitUntil(F done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace channeltest
