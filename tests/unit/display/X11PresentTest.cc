// Presenting video from many threads at once on an X server with few client slots.
#include <gtest/gtest.h>

#include <malloc.h>

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

// Frames drawn with an overlay are copied from a scratch pixmap; with graphics exposures on, each
// copy leaves an event on the presenting connection, which nobody reads, so its queue (heap)
// grew with every frame for as long as the service ran.
TEST(X11Present, FramesWithOverlayLeaveNothingQueued) {
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  auto display = X11Display::Open(server.Display());
  ASSERT_TRUE(display);
  QuitOnDestroy delegate;
  delegate.display = display.get();
  WindowId container = display->CreateContainer(0, MakeRect(0, 0, 320, 240), &delegate);
  WindowId pane = display->CreateChild(container, MakeRect(0, 0, 64, 48), nullptr);
  ASSERT_TRUE(display->Show(container, true));
  std::vector<std::uint8_t> pixels(64 * 48 * 4, 0x40);
  const VideoFrameView frame{pixels.data(), 64, 48, 64 * 4};
  const auto overlay = [](void* canvas) {
    static_cast<ICanvas*>(canvas)->FillRect(Rect{0, 0, 4, 4}, MakeColor(255, 0, 0));
  };
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(display->Present(pane, frame, overlay));
  const size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 4000; ++i) ASSERT_TRUE(display->Present(pane, frame, overlay));
  const size_t after = mallinfo2().uordblks;
  EXPECT_LT(after, before + 64 * 1024) << "heap in use grew from " << before << " to " << after << " bytes";
  display->Destroy(container);
}
