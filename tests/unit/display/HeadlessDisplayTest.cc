#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "platform/display/headless/HeadlessDisplay.h"

using namespace platform::display;

namespace {

struct Recorder : IWindowDelegate {
  std::vector<std::string> events;
  std::thread::id lastThread;
  IDisplay* display = nullptr;
  WindowId quitOn = 0;

  void Note(const std::string& e) {
    events.push_back(e);
    lastThread = std::this_thread::get_id();
  }
  void OnPaint(WindowId, ICanvas& c) override {
    Note("paint");
    c.FillRect(Rect{0, 0, 10, 10}, MakeColor(1, 2, 3));
  }
  void OnSize(WindowId, int w, int h) override { Note("size " + std::to_string(w) + "x" + std::to_string(h)); }
  void OnMouse(WindowId, MouseAction a, int x, int y) override {
    Note("mouse " + std::to_string(static_cast<int>(a)) + " " + std::to_string(x) + "," + std::to_string(y));
  }
  void OnKey(WindowId, Key) override { Note("key"); }
  void OnDestroy(WindowId w) override {
    Note("destroy " + std::to_string(w));
    if (w == quitOn) display->PostQuit();
  }
  void OnSessionLock(WindowId, bool locked) override { Note(locked ? "lock" : "unlock"); }
};

TEST(HeadlessDisplay, ForeignWindowsListedTopFirstWithScreenRects) {
  HeadlessDisplay d;
  WindowId a = d.CreateForeignWindow("first", "ClassA", MakeRect(10, 20, 300, 200));
  WindowId b = d.CreateForeignWindow("second", "ClassB", MakeRect(0, 0, 100, 100), false);
  WindowId child = d.CreateForeignChild(a, MakeRect(5, 30, 50, 40), "Page");
  auto list = d.ListTopLevelWindows();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].id, b);
  EXPECT_FALSE(list[0].visible);
  EXPECT_EQ(list[1].caption, "first");
  EXPECT_EQ(list[1].className, "ClassA");
  EXPECT_EQ(d.ListChildren(a), std::vector<WindowId>{child});
  EXPECT_EQ(*d.GetWindowRect(child), MakeRect(15, 50, 50, 40));
  EXPECT_EQ(*d.GetClassName(child), "Page");
}

// Events reach the delegate on the thread that created the window, and Inject waits for them.
TEST(HeadlessDisplay, EventsRunOnOwnerThread) {
  HeadlessDisplay d;
  Recorder r;
  r.display = &d;
  WindowId browser = d.CreateForeignWindow("b", "c", MakeRect(0, 0, 800, 600));
  std::promise<std::pair<WindowId, WindowId>> created;
  std::thread::id loopThread;
  std::thread t([&] {
    loopThread = std::this_thread::get_id();
    WindowId c = d.CreateContainer(browser, MakeRect(0, 0, 200, 100), &r);
    WindowId p = d.CreateChild(c, MakeRect(1, 1, 50, 50), &r);
    r.quitOn = c;
    created.set_value({c, p});
    d.RunLoop();
  });
  auto [container, pane] = created.get_future().get();

  // Hidden: no paint until shown.
  d.Invalidate(container);
  d.Flush(container);
  EXPECT_TRUE(r.events.empty());
  d.Show(container, true);
  d.Flush(container);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0], "paint");
  EXPECT_EQ(r.lastThread, loopThread);
  EXPECT_EQ(d.State(container)->drawCalls.size(), 1u);

  d.Move(container, MakeRect(5, 5, 300, 100));
  d.InjectMouse(pane, MouseAction::LeftDown, 3, 4);
  EXPECT_EQ(r.events[1], "size 300x100");
  EXPECT_EQ(r.events[2], "paint");
  EXPECT_EQ(r.events[3], "mouse 0 3,4");
  EXPECT_EQ(*d.GetWindowRect(pane), MakeRect(6, 6, 50, 50));

  // Keys only reach the focused window.
  d.InjectKey(container, Key::Escape);
  EXPECT_EQ(r.events.size(), 4u);
  d.SetFocus(container);
  d.InjectKey(container, Key::Escape);
  EXPECT_EQ(r.events.back(), "key");

  d.WatchSessionLock(container, true);
  d.InjectSessionLock(true);
  EXPECT_EQ(r.events.back(), "lock");

  d.Destroy(container);
  t.join();
  EXPECT_EQ(r.events[r.events.size() - 2], "destroy " + std::to_string(container));
  EXPECT_EQ(r.events.back(), "destroy " + std::to_string(pane));
  EXPECT_FALSE(d.State(container));
  EXPECT_FALSE(d.State(pane));
}

// A window destroyed inside its own event.
TEST(HeadlessDisplay, DestroyFromInsideOwnEvent) {
  HeadlessDisplay d;
  struct SelfDestroying : IWindowDelegate {
    IDisplay* display = nullptr;
    int destroyed = 0;
    void OnMouse(WindowId w, MouseAction, int, int) override { display->Destroy(w); }
    void OnDestroy(WindowId) override { ++destroyed; }
  } delegate;
  delegate.display = &d;
  WindowId top = d.CreateTopmost(MakeRect(0, 0, 10, 10), &delegate);
  WindowId child = d.CreateChild(top, MakeRect(0, 0, 5, 5), &delegate);
  d.Invalidate(top);
  d.InjectMouse(top, MouseAction::LeftDown, 1, 1);
  EXPECT_EQ(delegate.destroyed, 2);
  EXPECT_FALSE(d.State(top));
  EXPECT_FALSE(d.State(child));
  d.Pump();  // the paint queued for the gone window is dropped
  d.InjectMouse(top, MouseAction::LeftDown, 1, 1);
  EXPECT_EQ(delegate.destroyed, 2);
}

TEST(HeadlessDisplay, KeepsLastPresentedFrameAndOverlay) {
  HeadlessDisplay d;
  EXPECT_EQ(GetVideoOutput(), &d);
  WindowId w = d.CreateChild(d.CreateTopmost(MakeRect(0, 0, 4, 2), nullptr), MakeRect(0, 0, 4, 2), nullptr);
  std::vector<std::uint8_t> pixels(4 * 2 * 4 + 8, 0);
  pixels[0] = 0xAA;  // first pixel's blue
  VideoFrameView view{pixels.data(), 4, 2, 4 * 4 + 4};
  int cw = 0, ch = 0;
  ASSERT_TRUE(GetVideoOutput()->GetClientSize(w, &cw, &ch));
  EXPECT_EQ(cw, 4);
  ASSERT_TRUE(GetVideoOutput()->Present(w, view, [](void* canvas) {
    static_cast<ICanvas*>(canvas)->DrawTextAt(Point{1, 1}, "REC", Font{}, MakeColor(255, 0, 0));
  }));
  GetVideoOutput()->Present(w, view, nullptr);
  auto frame = d.LastFrame(w);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->presentCount, 2);
  EXPECT_EQ(frame->bgra.size(), 32u);
  EXPECT_EQ(frame->bgra[0], 0xAA);
  EXPECT_TRUE(frame->overlay.empty());
  EXPECT_FALSE(GetVideoOutput()->Present(12345, view, nullptr));

  // Pixels of earlier pictures are reused: a picture of another size, then a smaller one, each
  // come back whole and alone.
  std::vector<std::uint8_t> big(6 * 3 * 4, 0x11), small(2 * 1 * 4, 0x22);
  ASSERT_TRUE(GetVideoOutput()->Present(w, VideoFrameView{big.data(), 6, 3, 6 * 4}, nullptr));
  ASSERT_TRUE(GetVideoOutput()->Present(w, VideoFrameView{small.data(), 2, 1, 2 * 4}, nullptr));
  frame = d.LastFrame(w);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->width, 2);
  EXPECT_EQ(frame->bgra, small);
  ASSERT_TRUE(GetVideoOutput()->Present(w, VideoFrameView{big.data(), 6, 3, 6 * 4}, nullptr));
  EXPECT_EQ(d.LastFrame(w)->bgra, big);
}

// A solid YUV picture (I420 or NV12) of width x height; the planes live in the returned object.
struct SolidYuv {
  std::vector<std::uint8_t> y, u, v, uv;
  YuvFrameView view;
  SolidYuv(YuvLayout layout, int width, int height, int luma, int cb, int cr, bool fullRange = false) {
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    y.assign(static_cast<size_t>(width + 3) * height, static_cast<std::uint8_t>(luma));
    u.assign(static_cast<size_t>(cw) * ch, static_cast<std::uint8_t>(cb));
    v.assign(static_cast<size_t>(cw) * ch, static_cast<std::uint8_t>(cr));
    uv.resize(static_cast<size_t>(cw) * 2 * ch);
    for (size_t i = 0; i < u.size(); ++i) {
      uv[i * 2] = u[i];
      uv[i * 2 + 1] = v[i];
    }
    view.layout = layout;
    view.width = width;
    view.height = height;
    view.fullRange = fullRange;
    view.planes[0] = y.data();
    view.strides[0] = width + 3;  // rows wider than the picture, as decoders make them
    if (layout == YuvLayout::NV12) {
      view.planes[1] = uv.data();
      view.strides[1] = cw * 2;
    } else {
      view.planes[1] = u.data();
      view.planes[2] = v.data();
      view.strides[1] = view.strides[2] = cw;
    }
  }
};

TEST(HeadlessDisplay, YuvPictureIsScaledCroppedAndCountedWithTheOthers) {
  HeadlessDisplay d;
  WindowId w = d.CreateChild(d.CreateTopmost(MakeRect(0, 0, 64, 48), nullptr), MakeRect(0, 0, 64, 48), nullptr);
  // Left half black, right half white; the crop shows the white half only.
  SolidYuv picture(YuvLayout::I420, 32, 16, 16, 128, 128);
  for (int y = 0; y < 16; ++y)
    for (int x = 16; x < 32; ++x) picture.y[static_cast<size_t>(y) * 35 + x] = 235;
  std::vector<std::uint8_t> bgra(8 * 8 * 4, 0x40);
  ASSERT_TRUE(d.Present(w, VideoFrameView{bgra.data(), 8, 8, 32}, nullptr));
  picture.view.cropX = 16;
  picture.view.cropY = 4;
  picture.view.cropWidth = 16;
  picture.view.cropHeight = 8;
  ASSERT_EQ(d.PresentYuv(w, picture.view, [](void* canvas) {
    static_cast<ICanvas*>(canvas)->DrawTextAt(Point{1, 1}, "REC", Font{}, MakeColor(255, 0, 0));
  }), PresentResult::Shown);
  auto frame = d.LastFrame(w);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->presentCount, 2);
  EXPECT_EQ(frame->width, 64);  // the window's size, whatever the picture's
  EXPECT_EQ(frame->height, 48);
  EXPECT_EQ(*std::min_element(frame->bgra.begin(), frame->bgra.end()), 255);
  ASSERT_EQ(frame->overlay.size(), 1u);
  EXPECT_EQ(frame->overlay[0].text, "REC");

  // The picture is the display's own copy: the caller's planes may change at once.
  std::fill(picture.y.begin(), picture.y.end(), 16);
  EXPECT_EQ(d.LastFrame(w)->bgra, frame->bgra);
  // And back to BGRA: the YUV picture is gone.
  ASSERT_TRUE(d.Present(w, VideoFrameView{bgra.data(), 8, 8, 32}, nullptr));
  frame = d.LastFrame(w);
  EXPECT_FALSE(frame->yuv);
  EXPECT_EQ(frame->bgra, bgra);

  picture.view.cropWidth = 17;  // beyond the picture
  EXPECT_EQ(d.PresentYuv(w, picture.view, nullptr), PresentResult::Failed);
  picture.view.cropWidth = 0;
  EXPECT_EQ(d.PresentYuv(12345, picture.view, nullptr), PresentResult::Failed);
  EXPECT_EQ(d.LastFrame(w)->presentCount, 3);
}

// A headless service draws into its panes for as long as it runs and nobody clears the record:
// it keeps the latest calls only.
TEST(HeadlessDisplay, DrawCallRecordStaysBounded) {
  HeadlessDisplay d;
  WindowId w = d.CreateTopmost(MakeRect(0, 0, 4, 2), nullptr);
  const int draws = static_cast<int>(HeadlessDisplay::kMaxDrawCalls) + 10;
  for (int i = 0; i < draws; ++i) {
    ASSERT_TRUE(d.Draw(w, [i](ICanvas& c) { c.DrawTextAt(Point{i, 0}, "x", Font{}, MakeColor(0, 0, 0)); }));
  }
  const auto calls = d.State(w)->drawCalls;
  ASSERT_EQ(calls.size(), HeadlessDisplay::kMaxDrawCalls);
  EXPECT_EQ(calls.front().from.x, 10);
  EXPECT_EQ(calls.back().from.x, draws - 1);
}

TEST(HeadlessDisplay, MonitorNearestPicksLargestOverlapThenDistance) {
  HeadlessDisplay d;
  d.SetMonitors({Monitor{1, Rect{0, 0, 1920, 1080}, {}, "left", true},
                 Monitor{2, Rect{1920, 0, 3840, 1080}, {}, "right", false}});
  WindowId w = d.CreateForeignWindow("w", "c", MakeRect(1800, 10, 400, 300));
  EXPECT_EQ(MonitorNearest(d, w)->name, "right");
  d.SetForeignRect(w, MakeRect(-900, 10, 400, 300));
  EXPECT_EQ(MonitorNearest(d, w)->name, "left");
  EXPECT_EQ(d.PrimaryScreenSize().width, 1920);
}

}  // namespace
