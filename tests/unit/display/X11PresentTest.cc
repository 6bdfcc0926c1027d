// Presenting video from many threads at once on an X server with few client slots.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/display/x11/X11Display.h"
#include "XvfbServer.h"

using namespace platform::display;

namespace {

struct QuitOnDestroy : IWindowDelegate {
  IDisplay* display = nullptr;
  void OnDestroy(WindowId) override { display->PostQuit(); }
};

}  // namespace

// 96 panes' render threads alive at the same time, each presenting into its own window: with a
// connection per thread the server would refuse the 64th; all of them share one instead.
TEST(X11Present, ManyPresentingThreadsShareOneConnection) {
  XvfbServer server("-maxclients 64");
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  auto display = X11Display::Open(server.Display());
  ASSERT_TRUE(display);

  constexpr int kThreads = 96;
  QuitOnDestroy delegate;
  delegate.display = display.get();
  std::vector<WindowId> panes(kThreads);
  WindowId container = 0;
  std::mutex mutex;
  std::condition_variable cv;
  bool created = false;
  std::thread loop([&] {
    WindowId c = display->CreateContainer(0, MakeRect(0, 0, 640, 480), &delegate);
    for (int i = 0; i < kThreads; ++i) panes[i] = display->CreateChild(c, MakeRect((i % 12) * 53, (i / 12) * 60, 50, 50), nullptr);
    {
      std::lock_guard<std::mutex> lock(mutex);
      container = c;
      created = true;
    }
    cv.notify_all();
    display->RunLoop();
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return created; });
  }
  ASSERT_TRUE(display->Show(container, true));

  std::vector<std::uint8_t> pixels(50 * 50 * 4, 0x80);
  std::atomic<int> presented{0};
  int finished = 0;
  std::vector<std::thread> renderers;
  for (int i = 0; i < kThreads; ++i) {
    renderers.emplace_back([&, i] {
      VideoFrameView frame{pixels.data(), 50, 50, 50 * 4};
      int width = 0, height = 0;
      if (display->GetClientSize(panes[i], &width, &height) && width == 50 &&
          display->Present(panes[i], frame, [](void* canvas) {
            static_cast<ICanvas*>(canvas)->FillRect(Rect{0, 0, 4, 4}, MakeColor(255, 0, 0));
          }))
        ++presented;
      // Stay alive until every thread has presented, as render threads of playing panes do.
      std::unique_lock<std::mutex> lock(mutex);
      ++finished;
      cv.notify_all();
      cv.wait(lock, [&] { return finished == kThreads; });
    });
  }
  for (auto& t : renderers) t.join();
  EXPECT_EQ(presented.load(), kThreads);
  display->Sync();
  EXPECT_EQ(display->ScreenPixel(53 * 5 + 1, 60 * 3 + 1), MakeColor(255, 0, 0));
  EXPECT_EQ(display->ScreenPixel(53 * 5 + 20, 60 * 3 + 20), MakeColor(0x80, 0x80, 0x80));

  display->Destroy(container);
  loop.join();
}
