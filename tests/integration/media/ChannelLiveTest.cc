// Live channels: pictures in the pane, overlay marks, zoom, source codes, suspension, bit rate.
#include "ChannelHarness.h"

using namespace channeltest;
using platform::display::DrawCall;
using platform::display::MakeColor;
using platform::display::Rect;

namespace {

bool HasCall(const std::vector<DrawCall>& calls, DrawCall::Kind kind, const std::string& text = "") {
  for (const auto& c : calls)
    if (c.kind == kind && (text.empty() || c.text == text)) return true;
  return false;
}

// `"conn":N,` of a source event line: what names the same connection in its other lines.
std::string ConnField(const std::string& event) {
  const size_t at = event.find("\"conn\":");
  return at == std::string::npos ? "\"conn\":none" : event.substr(at, event.find(',', at) + 1 - at);
}

}  // namespace

// Decoded pictures fill the pane at its size, the source's red block in the top-left quarter.
// The hardware flag falls back to software decoding here without a word.
TEST_F(ChannelTest, LivePicturesFillThePane) {
  const struct {
    const char* query;
    int width, height;
    bool dxva;
  } cases[] = {
      {"codec=h264&width=640&height=360", 320, 180, false},
      {"codec=h265&width=320&height=240", 200, 150, true},
      {"codec=mjpeg&width=320&height=240&audio=g711a", 320, 240, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    StartArgs args;
    args.query = c.query;
    args.width = c.width;
    args.height = c.height;
    args.dxva = c.dxva;
    auto channel = Start(args);
    ASSERT_TRUE(WaitMorePresents(5));
    EXPECT_GT(channel->PlayerHandle(), 0);
    const auto frame = m_output.LastFrame(m_window);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, c.width);
    EXPECT_EQ(frame->height, c.height);
    EXPECT_TRUE(vxtest::Near(m_output.At(m_window, c.width / 8, c.height / 8), 255, 0, 0, 60));
    EXPECT_FALSE(vxtest::Near(m_output.At(m_window, c.width * 3 / 4, c.height * 3 / 4), 255, 0, 0, 60));
    EXPECT_TRUE(m_source->WaitEvent({"\"request\"", "sessionID"}));
    channel->StopStream(R"({"action":"stop","data":{"sessionID":"s"}})");
    EXPECT_EQ(channel->PlayerHandle(), 0);
    EXPECT_TRUE(m_source->WaitEvent({"\"text\"", "\"action\":\"stop\""}));
  }
}

// The dot, the rate text and the rectangles go over the picture; while the group is full screen
// only the rectangles stay.
TEST_F(ChannelTest, OverlayMarks) {
  StartArgs args;
  args.query = "codec=h264&width=320&height=180&dot=1";
  auto channel = Start(args);
  channel->SetPtzRateText("2");
  channel->SetDrawRect(true, 3, "#00FF00");
  channel->SetZoomArea(Rect{10, 10, 170, 100});
  channel->EnableZoom(true);
  const Rect selection{50, 60, 20, 30};  // corners reversed, as a drag up and left gives them
  channel->SetZoomRect(&selection, 320, 180, false);
  ASSERT_TRUE(WaitMorePresents(3));
  auto calls = m_output.LastFrame(m_window)->overlay;
  ASSERT_TRUE(HasCall(calls, DrawCall::Kind::Ellipse));
  for (const auto& c : calls) {
    if (c.kind == DrawCall::Kind::Ellipse) {
      EXPECT_EQ(c.rect, (Rect{280, 20, 310, 50}));
      EXPECT_EQ(c.brush, MakeColor(255, 0, 0));
    }
    if (c.kind == DrawCall::Kind::TextAt) {
      EXPECT_EQ(c.text, "2 X");
      EXPECT_EQ(c.from, (platform::display::Point{230, 10}));
    }
  }
  EXPECT_TRUE(HasCall(calls, DrawCall::Kind::TextAt, "2 X"));
  int rectangles = 0;
  for (const auto& c : calls) {
    if (c.kind != DrawCall::Kind::Rectangle) continue;
    ++rectangles;
    if (c.pen && c.pen->width == 3) {
      EXPECT_EQ(c.rect, (Rect{10, 10, 170, 100}));
    }
    if (c.pen && c.pen->width == 1) {
      EXPECT_EQ(c.rect, (Rect{20, 30, 50, 60}));
    }
  }
  EXPECT_EQ(rectangles, 2);

  m_events.fullScreen = true;
  ASSERT_TRUE(WaitMorePresents(2));
  calls = m_output.LastFrame(m_window)->overlay;
  EXPECT_FALSE(HasCall(calls, DrawCall::Kind::Ellipse));
  EXPECT_FALSE(HasCall(calls, DrawCall::Kind::TextAt));
  EXPECT_TRUE(HasCall(calls, DrawCall::Kind::Rectangle));
  channel->StopStream("");
}

// A selection narrows the shown part (nested); one under five pixels changes nothing.
TEST_F(ChannelTest, DigitalZoomShowsTheSelection) {
  StartArgs args;
  args.query = "codec=h264&width=640&height=360";
  auto channel = Start(args);
  ASSERT_TRUE(WaitMorePresents(2));
  channel->EnableZoom(true);
  EXPECT_EQ(channel->ShownPart(), (Rect{0, 0, 640, 360}));
  // The top-left quarter of the window: the red block then covers the top-left quarter of it.
  Rect quarter{0, 0, 160, 90};
  channel->SetZoomRect(&quarter, 320, 180, true);
  EXPECT_EQ(channel->ShownPart(), (Rect{0, 0, 320, 180}));
  Rect tiny{100, 100, 101, 101};
  channel->SetZoomRect(&tiny, 320, 180, true);
  EXPECT_EQ(channel->ShownPart(), (Rect{0, 0, 320, 180}));
  ASSERT_TRUE(WaitMorePresents(3));
  EXPECT_TRUE(vxtest::Near(m_output.At(m_window, 120, 70), 255, 0, 0, 60));
  channel->SetZoomRect(nullptr, 320, 180, true);
  EXPECT_EQ(channel->ShownPart(), (Rect{0, 0, 640, 360}));
  ASSERT_TRUE(WaitMorePresents(3));
  EXPECT_FALSE(vxtest::Near(m_output.At(m_window, 120, 70), 255, 0, 0, 60));
  channel->StopStream("");
}

// The source's codes: 203/4001 refuse but keep the connection, 4004 repaints, others end it.
TEST_F(ChannelTest, SourceCodesBecomeNotices) {
  const struct {
    int code;
    const char* event;  // "" for none
    int camera, pane;
    bool keepsConnection;
  } cases[] = {
      {203, "startPlay", 0, 0, true},
      {4001, "startPlay", 0, 0, true},
      {4004, "", 0, 0, true},
      {4003, "notice", 7, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    StartArgs args;
    args.query = "code=" + std::to_string(c.code);
    args.request = R"({"action":"play","data":{"channel":7}})";
    args.pane = 2;
    const size_t before = std::string(c.event).empty() ? 0 : m_events.Count(c.event);
    auto channel = Start(args);
    if (std::string(c.event).empty()) {
      EXPECT_TRUE(m_events.WaitRepaint(m_window));
    } else {
      const auto notices = m_events.WaitNotices(c.event, before + 1);
      ASSERT_EQ(m_events.Count(c.event), before + 1);
      const Notice& n = notices.back();
      EXPECT_EQ(n.key, "{KEY-2}");
      EXPECT_EQ(n.value, std::to_string(c.code));
      EXPECT_EQ(n.camera, c.camera);
      EXPECT_EQ(n.pane, c.pane);
    }
    const std::string conn = "\"code\":" + std::to_string(c.code);
    if (c.keepsConnection) {
      // Still connected: a text reaches the source.
      EXPECT_TRUE(channel->SendText(R"({"action":"ping)" + std::to_string(c.code) + R"("})"));
      EXPECT_TRUE(m_source->WaitEvent({"\"text\"", "ping" + std::to_string(c.code)}));
    } else {
      // This connection's close, which may well have come before the notice was seen here.
      ASSERT_TRUE(m_source->WaitEvent({"\"connect\"", args.query}));
      EXPECT_TRUE(m_source->WaitEvent({"\"close\"", ConnField(m_source->FindEvent({"\"connect\"", args.query}))}));
      // The source may see its own close before the client has begun closing.
      EXPECT_TRUE(WaitUntil([&] { return !channel->SendText("{}"); }));
    }
    channel->StopStream("");
  }
}

// A locked desktop drops the player and the data; unlocking plays again.
TEST_F(ChannelTest, SuspensionDropsThePlayerUntilUnlocked) {
  auto channel = Start(StartArgs{});
  ASSERT_TRUE(WaitMorePresents(2));
  channel->SetSuspended(true);
  ASSERT_TRUE(WaitUntil([&] { return channel->PlayerHandle() == 0; }));
  EXPECT_EQ(channel->QueuedPackets(), 0u);
  channel->SetSuspended(false);
  ASSERT_TRUE(WaitUntil([&] { return channel->PlayerHandle() > 0; }));
  EXPECT_TRUE(WaitMorePresents(3));
  channel->StopStream("");
}

// The bit rate appears once the second 3-second period ends, and not before.
TEST_F(ChannelTest, BitRateAfterTheSecondPeriod) {
  std::atomic<std::uint64_t> clock{1000000};
  PlayChannel::Options options;
  options.tickMs = [&] { return clock.load(); };
  auto channel = Start(StartArgs{}, options);
  ASSERT_TRUE(WaitMorePresents(3));
  clock += 3000;  // the next frame ends the first period: no figure yet
  ASSERT_TRUE(WaitMorePresents(3));
  EXPECT_EQ(channel->BitRate(), 0);
  clock += 3000;
  ASSERT_TRUE(WaitUntil([&] { return channel->BitRate() > 0; }));
  channel->StopStream("");
}
