// Smoke test of the X11 backend against a private Xvfb server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/DebugLog.h"
#include "platform/display/x11/X11Display.h"
#include "platform/display/x11/X11Internal.h"
#include "../sessionlock/FakeGdbus.h"
#include "XvfbServer.h"

using namespace platform::display;

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `done` up to five seconds, checking every few milliseconds.
template <typename F>
bool WaitFor(F done) {
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

struct FillDelegate : IWindowDelegate {
  ColorRef color = MakeColor(0, 200, 0);
  IDisplay* display = nullptr;
  std::promise<void> destroyed;
  void OnPaint(WindowId, ICanvas& c) override { c.FillRect(Rect{0, 0, 400, 300}, color); }
  void OnDestroy(WindowId) override {
    display->PostQuit();
    destroyed.set_value();
  }
};

TEST(X11Display, CreateMoveRegionPresent) {
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  auto display = X11Display::Open(server.Display());
  ASSERT_TRUE(display);
  EXPECT_EQ(GetVideoOutput(), display.get());
  auto monitors = display->ListMonitors();
  ASSERT_FALSE(monitors.empty());
  EXPECT_EQ(monitors[0].rect.Width(), 800);
  EXPECT_EQ(display->DesktopSize().height, 600);

  FillDelegate delegate;
  delegate.display = display.get();
  std::promise<std::pair<WindowId, WindowId>> created;
  std::thread loop([&] {
    WindowId c = display->CreateContainer(0, MakeRect(100, 50, 200, 100), &delegate);
    WindowId p = display->CreateChild(c, MakeRect(10, 10, 40, 30), nullptr);
    created.set_value({c, p});
    display->RunLoop();
  });
  auto [container, pane] = created.get_future().get();
  ASSERT_NE(container, 0u);

  // Shown from another thread: the owner's loop paints it green.
  ASSERT_TRUE(display->Show(container, true));
  EXPECT_TRUE(WaitFor([&] { return display->ScreenPixel(150, 120) == MakeColor(0, 200, 0); }));
  EXPECT_TRUE(display->IsVisible(container));

  ASSERT_TRUE(display->Move(container, MakeRect(300, 200, 200, 100)));
  EXPECT_EQ(*display->GetWindowRect(container), MakeRect(300, 200, 200, 100));
  EXPECT_EQ(*display->GetWindowRect(pane), MakeRect(310, 210, 40, 30));
  EXPECT_TRUE(WaitFor([&] { return display->ScreenPixel(450, 280) == MakeColor(0, 200, 0); }));
  auto tops = display->ListTopLevelWindows();
  bool listed = false;
  for (const auto& t : tops)
    if (t.id == container) listed = t.caption == "Caption" && t.className == "WindowClass" && t.visible;
  EXPECT_TRUE(listed);

  // Cut a 50 x 40 hole at the bottom right: the root's black shows through there.
  std::vector<Point> cut = {{0, 0}, {200, 0}, {200, 60}, {150, 60}, {150, 100}, {0, 100}};
  ASSERT_TRUE(display->SetRegion(container, cut));
  display->Sync();
  EXPECT_NE(display->ScreenPixel(300 + 180, 200 + 90), MakeColor(0, 200, 0));
  EXPECT_EQ(display->ScreenPixel(300 + 100, 200 + 90), MakeColor(0, 200, 0));
  ASSERT_TRUE(display->SetRegion(container, {}));
  display->Sync();
  EXPECT_TRUE(WaitFor([&] { return display->ScreenPixel(300 + 180, 200 + 90) == MakeColor(0, 200, 0); }));

  // A frame presented into the pane from this (another) thread, with an overlay rectangle.
  std::vector<std::uint8_t> pixels(40 * 30 * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = 255;  // blue
    pixels[i + 1] = pixels[i + 2] = 0;
  }
  VideoFrameView frame{pixels.data(), 40, 30, 40 * 4};
  ASSERT_TRUE(display->Present(pane, frame, [](void* canvas) {
    static_cast<ICanvas*>(canvas)->FillRect(Rect{0, 0, 5, 5}, MakeColor(255, 0, 0));
  }));
  EXPECT_EQ(display->ScreenPixel(310 + 20, 210 + 20), MakeColor(0, 0, 255));
  EXPECT_EQ(display->ScreenPixel(310 + 2, 210 + 2), MakeColor(255, 0, 0));
  std::printf("shared memory video: %s\n", display->UsesSharedMemory() ? "yes" : "no");

  // Xvfb has no XVideo: YUV pictures are refused for good, said once in the log, and the same
  // pane goes on taking BGRA.
  std::vector<std::string> lines;
  std::mutex linesMutex;
  SetDebugLogSink([&](const std::string& line) {
    std::lock_guard<std::mutex> lock(linesMutex);
    lines.push_back(line);
  });
  std::vector<std::uint8_t> luma(40 * 30, 128), chroma(20 * 15, 128);
  YuvFrameView yuv;
  yuv.planes[0] = luma.data();
  yuv.planes[1] = yuv.planes[2] = chroma.data();
  yuv.strides[0] = 40;
  yuv.strides[1] = yuv.strides[2] = 20;
  yuv.width = 40;
  yuv.height = 30;
  int overlays = 0;
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(display->PresentYuv(pane, yuv, [&overlays](void*) { ++overlays; }), PresentResult::Unsupported);
  SetDebugLogSink(nullptr);
  EXPECT_EQ(overlays, 0);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.find("XVideo") != std::string::npos; }),
            1);
  for (size_t i = 0; i < pixels.size(); i += 4) std::swap(pixels[i], pixels[i + 1]);  // now green
  ASSERT_TRUE(display->Present(pane, frame, nullptr));
  EXPECT_EQ(display->ScreenPixel(310 + 20, 210 + 20), MakeColor(0, 255, 0));

  display->Destroy(container);
  delegate.destroyed.get_future().wait();
  loop.join();
  EXPECT_FALSE(display->GetWindowRect(container));
}

// The XVideo drawing never runs on Xvfb; the format it asks a port for is checked here.
TEST(X11Display, XVideoFormatForEachLayout) {
  auto fourcc = [](const char* name) {
    return static_cast<std::uint32_t>(name[0]) | static_cast<std::uint32_t>(name[1]) << 8 |
           static_cast<std::uint32_t>(name[2]) << 16 | static_cast<std::uint32_t>(name[3]) << 24;
  };
  const std::uint32_t i420 = fourcc("I420"), yv12 = fourcc("YV12"), nv12 = fourcc("NV12"), yuy2 = fourcc("YUY2");
  const struct {
    std::vector<std::uint32_t> listed;
    YuvLayout layout;
    std::uint32_t chosen;
  } cases[] = {
      {{yv12, i420}, YuvLayout::I420, i420}, {{yv12}, YuvLayout::I420, yv12}, {{yuy2, nv12}, YuvLayout::I420, 0},
      {{yuy2, nv12}, YuvLayout::NV12, nv12}, {{i420, yv12}, YuvLayout::NV12, 0},  {{}, YuvLayout::I420, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(XvFourccFor(c.listed, c.layout), c.chosen);
}

// Sets a 32-bit property on a window with xprop, as another program would.
bool SetCardinals(const std::string& display, WindowId window, const std::string& name,
                  const std::string& values) {
  std::string cmd = "xprop -display " + display + " -id " + std::to_string(window) + " -f " + name +
                    " 32c -set " + name + " '" + values + "' 2>/dev/null";
  return std::system(cmd.c_str()) == 0;
}

// Windows of another program as a desktop shows them: inside a window manager's frame (which
// carries no caption; the program's window carries WM_STATE), and drawing its own frame with
// invisible borders that _GTK_FRAME_EXTENTS announces.
TEST(X11Display, OtherProgramsWindowsAsTheyShow) {
  if (std::system("command -v xprop >/dev/null 2>&1") != 0) GTEST_SKIP() << "xprop is not installed";
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  auto display = X11Display::Open(server.Display());
  auto program = X11Display::Open(server.Display());  // its windows are foreign to `display`
  ASSERT_TRUE(display && program);
  WindowId frame = program->CreateContainer(0, MakeRect(100, 50, 400, 300), nullptr);
  WindowId client = program->CreateChild(frame, MakeRect(10, 20, 380, 270), nullptr);
  ASSERT_TRUE(frame && client);
  ASSERT_TRUE(program->Show(frame, true));
  ASSERT_TRUE(SetCardinals(server.Display(), client, "WM_STATE", "1,0"));
  std::system(("xprop -display " + server.Display() + " -id " + std::to_string(client) +
               " -set WM_NAME 'Page {1234}'").c_str());

  // No stacking list on the root: the frame is listed by the program's window inside it.
  bool listedClient = false, listedFrame = false;
  for (const auto& t : display->ListTopLevelWindows()) {
    listedClient |= t.id == client && t.caption == "Page {1234}" && t.visible;
    listedFrame |= t.id == frame;
  }
  EXPECT_TRUE(listedClient);
  EXPECT_FALSE(listedFrame);

  const Rect whole = MakeRect(110, 70, 380, 270);
  struct Case {
    const char* extents;  // left, right, top, bottom
    Rect expected;
  } cases[] = {
      {"4,4,0,4", Rect{114, 70, 486, 336}},
      {"16,16,10,32", Rect{126, 80, 474, 308}},
      {"0,0,0,0", whole},
      {"200,200,0,0", whole},         // wider than the window: not believed
      {"4294967292,0,0,0", whole},    // -4
      {"4,4", whole},                 // too few values
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(SetCardinals(server.Display(), client, "_GTK_FRAME_EXTENTS", c.extents));
    EXPECT_EQ(*display->GetWindowRect(client), c.expected) << c.extents;
  }
  // A window manager's frame lies around the window, never inside it: its extents take nothing off.
  ASSERT_TRUE(SetCardinals(server.Display(), client, "_GTK_FRAME_EXTENTS", "4,4,0,4"));
  ASSERT_TRUE(SetCardinals(server.Display(), client, "_NET_FRAME_EXTENTS", "1,1,20,5"));
  EXPECT_EQ(*display->GetWindowRect(client), (Rect{114, 70, 486, 336}));
  // Our own windows are where we put them, whatever they carry.
  ASSERT_TRUE(SetCardinals(server.Display(), frame, "_GTK_FRAME_EXTENTS", "4,4,0,4"));
  EXPECT_EQ(*program->GetWindowRect(frame), MakeRect(100, 50, 400, 300));
  program->Destroy(frame);
}

struct LockDelegate : IWindowDelegate {
  IDisplay* display = nullptr;
  std::thread::id loopThread;
  std::vector<bool> heard;  // owner thread only
  std::promise<bool> onLoopThread;
  void OnSessionLock(WindowId, bool locked) override {
    heard.push_back(locked);
    if (heard.size() == 2) onLoopThread.set_value(std::this_thread::get_id() == loopThread);
  }
  void OnDestroy(WindowId) override { display->PostQuit(); }
};

TEST(X11Display, SessionLockReachesTheOwnerThread) {
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  FakeTool tool(true);
  auto display = X11Display::Open(server.Display());
  auto unavailable = X11Display::Open(server.Display());
  ASSERT_TRUE(display && unavailable);
  display->SetSessionLockOptions({tool.Path(), "2", "", 3000});
  unavailable->SetSessionLockOptions({"/nonexistent/gdbus", "2", "", 3000});

  LockDelegate delegate;
  delegate.display = display.get();
  std::promise<std::pair<WindowId, WindowId>> created;
  std::thread loop([&] {
    delegate.loopThread = std::this_thread::get_id();
    WindowId watched = display->CreateContainer(0, MakeRect(0, 0, 50, 50), &delegate);
    WindowId other = unavailable->CreateContainer(0, MakeRect(0, 0, 50, 50), nullptr);
    created.set_value({watched, other});
    display->RunLoop();
  });
  auto [container, other] = created.get_future().get();
  EXPECT_FALSE(unavailable->WatchSessionLock(other, true));
  ASSERT_TRUE(display->WatchSessionLock(container, true));
  auto done = delegate.onLoopThread.get_future();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(done.get());
  display->Destroy(container);
  loop.join();
  EXPECT_EQ(delegate.heard, (std::vector<bool>{true, false}));
}

struct KeyDelegate : IWindowDelegate {
  std::mutex mutex;
  std::vector<std::pair<WindowId, Key>> keys;
  IDisplay* display = nullptr;
  void OnDestroy(WindowId) override {
    if (display) display->PostQuit();
  }
  void OnKey(WindowId w, Key key) override {
    std::lock_guard<std::mutex> lock(mutex);
    keys.emplace_back(w, key);
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return keys.size();
  }
};

// A real key press with the pointer over a child reaches the focused container, as Escape out of
// full screen needs; X would otherwise hand it to the child under the pointer.
TEST(X11Display, KeyWithPointerOverChildReachesFocusedContainer) {
  if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool not installed";
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  auto display = X11Display::Open(server.Display());
  ASSERT_TRUE(display);
  KeyDelegate containerKeys, paneKeys;
  containerKeys.display = paneKeys.display = display.get();
  std::promise<WindowId> created;
  std::thread loop([&] {
    WindowId c = display->CreateContainer(0, MakeRect(100, 50, 200, 100), &containerKeys);
    display->CreateChild(c, MakeRect(0, 0, 200, 100), &paneKeys);
    created.set_value(c);
    display->RunLoop();
  });
  WindowId container = created.get_future().get();
  ASSERT_TRUE(display->Show(container, true));
  ASSERT_TRUE(WaitFor([&] { return display->IsVisible(container); }));
  ASSERT_TRUE(display->SetFocus(container));
  std::string command = "DISPLAY=" + server.Display() + " xdotool mousemove 150 100 key Escape";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(WaitFor([&] { return containerKeys.Count() > 0; }));
  EXPECT_EQ(paneKeys.Count(), 0u);
  if (containerKeys.Count() > 0) {
    EXPECT_EQ(containerKeys.keys[0].second, Key::Escape);
  }
  display->Destroy(container);
  loop.join();
}

}  // namespace
