// What the window group reports about its panes reaches the pane's play channel: drags zoom the
// picture, a desktop lock suspends it, a layout holds playback outside it, a repaint refreshes a
// paused playback, new windows get the pictures; and the zoom commands draw where they should.
#include <ctime>
#include <thread>

#include "PlayFixture.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"

using namespace platform::display;

namespace {

const std::string kLive = "codec=h264&width=640&height=360&fps=25";
const std::string kPlayback = kLive + "&mode=playback";

bool CentreIsRed(const HeadlessFrame& f) {
  const std::uint8_t* p = &f.bgra[(static_cast<size_t>(f.height / 2) * f.width + f.width / 2) * 4];
  return p[2] > 200 && p[1] < 70 && p[0] < 70;
}

const DrawCall* FindCall(const HeadlessFrame& f, DrawCall::Kind kind, const std::string& text = "") {
  for (const DrawCall& call : f.overlay)
    if (call.kind == kind && (text.empty() || call.text == text)) return &call;
  return nullptr;
}

class PaneEventsTest : public PlayFixture {
 protected:
  void StartLive(int pane, int channel) {
    ASSERT_EQ(Execute(StartText("startPlay", Url(kLive), pane, channel, "s")).ErrorCode(), 0);
    ASSERT_TRUE(WaitFrame(pane, RedBlockInPlace));
  }
  std::string Pane0(const std::string& cmd, const std::string& more = "") {
    return R"({"cmd":")" + cmd + R"(","data":{"wndIndex":0)" + more + "}}";
  }
  // True when the pane presents nothing new for a while.
  bool Holds(int pane) {
    return WaitUntil([&] {
      int before = PresentCount(pane);
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      return PresentCount(pane) == before;
    });
  }
};

TEST_F(PaneEventsTest, DragsZoomAndTheZoomCommandsDrawTheirMarks) {
  CreateGroup(4);
  StartLive(0, 1);
  WindowId pane = Group().Pane(0);

  // A drag over the red corner, with zoom on, shows that corner across the pane.
  ASSERT_EQ(Execute(Pane0("enableZoom")).ErrorCode(), 0);
  m_display.InjectMouse(pane, MouseAction::LeftDown, 10, 10);
  m_display.InjectMouse(pane, MouseAction::Move, 100, 80);
  m_display.InjectMouse(pane, MouseAction::LeftUp, 100, 80);
  EXPECT_TRUE(WaitFrame(0, CentreIsRed));
  ASSERT_EQ(Execute(Pane0("disableZoom")).ErrorCode(), 0);
  EXPECT_TRUE(WaitFrame(0, RedBlockInPlace));

  // The digital-zoom rectangle: half the pane, at the page's percentages, in the page's pen.
  ASSERT_EQ(Execute(Pane0("setDigitalZoom", R"(,"coordinateX":25.0,"coordinateY":30.0,"penWidth":2,"penColor":"#00ff00")"))
                .ErrorCode(),
            0);
  auto size = Group().GetPaneSize(0);
  Rect expected{size.width * 25 / 100, size.height * 30 / 100, 0, 0};
  expected.right = expected.left + size.width / 2;
  expected.bottom = expected.top + size.height / 2;
  auto drawn = WaitFrame(0, [&](const HeadlessFrame& f) {
    const DrawCall* r = FindCall(f, DrawCall::Kind::Rectangle);
    return r && r->rect == expected;
  });
  ASSERT_TRUE(drawn);
  const DrawCall* rect = FindCall(*drawn, DrawCall::Kind::Rectangle);
  ASSERT_TRUE(rect && rect->pen);
  EXPECT_EQ(rect->pen->width, 2);
  EXPECT_EQ(rect->pen->color, MakeColor(0, 255, 0));
  Reply zoom = Execute(Pane0("getDigitalZoom"));
  EXPECT_FLOAT_EQ(zoom.json["data"]["coordinateX"].GetFloat(), expected.left * 100.0f / size.width);
  EXPECT_FLOAT_EQ(zoom.json["data"]["coordinateY"].GetFloat(), expected.top * 100.0f / size.height);
  // Dragged from inside, the rectangle moves with the mouse.
  m_display.InjectMouse(pane, MouseAction::LeftDown, expected.left + 5, expected.top + 5);
  m_display.InjectMouse(pane, MouseAction::Move, expected.left + 15, expected.top + 10);
  m_display.InjectMouse(pane, MouseAction::LeftUp, expected.left + 15, expected.top + 10);
  const Rect moved{expected.left + 10, expected.top + 5, expected.right + 10, expected.bottom + 5};
  EXPECT_TRUE(WaitFrame(0, [&](const HeadlessFrame& f) {
    const DrawCall* r = FindCall(f, DrawCall::Kind::Rectangle);
    return r && r->rect == moved;
  }));
  ASSERT_EQ(Execute(Pane0("closeDigitalZoom")).ErrorCode(), 0);
  EXPECT_TRUE(WaitFrame(0, [](const HeadlessFrame& f) { return !FindCall(f, DrawCall::Kind::Rectangle); }));

  // The PTZ rate text of camera 1, placed by the pane's width, also after the group moved.
  ASSERT_EQ(Execute(R"({"cmd":"setDrawPTZRate","data":{"channel":1,"rate":"2.5"}})").ErrorCode(), 0);
  auto rateAt = [&](int x) {
    return WaitFrame(0, [x](const HeadlessFrame& f) {
      const DrawCall* text = FindCall(f, DrawCall::Kind::TextAt, "2.5 X");
      return text && text->from.x == x;
    });
  };
  EXPECT_TRUE(rateAt(size.width - 90));
  ASSERT_EQ(Execute(R"({"cmd":"moveWnd","data":{"rect":{"left":10,"top":20,"width":400,"height":300,"bodyHeight":700}}})")
                .ErrorCode(),
            0);
  EXPECT_TRUE(rateAt(Group().GetPaneSize(0).width - 90));
  EXPECT_NE(Group().GetPaneSize(0).width, size.width);

  // Panes without a channel: nothing zooms and nothing is there to report.
  Reply none = Execute(R"({"cmd":"getDigitalZoom","data":{"wndIndex":3}})");
  EXPECT_EQ(none.ErrorCode(), 0);
  EXPECT_EQ(none.json["data"]["coordinateX"].GetFloat(), 0.0f);
  EXPECT_EQ(Execute(R"({"cmd":"enableZoom","data":{"wndIndex":3}})").ErrorCode(), 0);
  EXPECT_EQ(Execute(R"({"cmd":"getBitRate","data":{"channel":64}})").Int("bitRate"), 0);
}

TEST_F(PaneEventsTest, LockLayoutPaintAndNewWindowsReachTheChannels) {
  CreateGroup(4);
  StartLive(0, 1);
  const long now = static_cast<long>(std::time(nullptr));
  const std::string range = R"(,"startTime":")" + std::to_string(now - 600) + R"(","endTime":")" + std::to_string(now) + "\"";
  ASSERT_EQ(Execute(StartText("startPlayBack", Url(kPlayback), 2, 3, "p", range)).ErrorCode(), 0);
  ASSERT_TRUE(WaitFrame(2, RedBlockInPlace));
  WindowId container = Group().Container();
  EXPECT_NE(m_router.GetPlayerHandle(container, 0), 0);
  EXPECT_EQ(m_router.GetPlayerHandle(container, 5), 0);

  // One pane: the playback in pane 2 holds; four again: it goes on.
  ASSERT_EQ(Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":1}})").ErrorCode(), 0);
  EXPECT_TRUE(Holds(2));
  ASSERT_EQ(Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":4}})").ErrorCode(), 0);
  EXPECT_TRUE(WaitPresented(2, 5));

  // A paused playback shows its picture again when the container paints.
  Execute(R"({"cmd":"pausePlayBack","data":{"wndIndex":2,"requestJson":{"action":"pause"}}})");
  ASSERT_TRUE(Holds(2));
  int paused = PresentCount(2);
  m_display.Invalidate(container);
  m_display.Flush(container);
  EXPECT_TRUE(WaitUntil([&] { return PresentCount(2) > paused; }));
  Execute(R"({"cmd":"resumePlayBack","data":{"wndIndex":2,"requestJson":{"action":"resume"}}})");

  // New windows for the group: the channels play into them.
  ASSERT_EQ(Execute(R"({"cmd":"updateWebWnd"})").ErrorCode(), 0);
  ASSERT_NE(Group().Container(), container);
  m_display.Flush(Group().Container());
  EXPECT_TRUE(WaitFrame(0, RedBlockInPlace));
  EXPECT_TRUE(WaitFrame(2, RedBlockInPlace));

  // A locked desktop suspends the pictures; unlocking brings them back.
  m_display.InjectSessionLock(true);
  EXPECT_TRUE(Holds(0));
  m_display.InjectSessionLock(false);
  EXPECT_TRUE(WaitPresented(0, 5));
}

}  // namespace
