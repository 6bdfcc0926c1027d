// The rules a play channel applies to what it reads: source answers, request texts, the nested
// zoom and the bit rate periods.
#include <gtest/gtest.h>

#include <string>

#include "service/media/BitRateMeter.h"
#include "service/media/SourceText.h"
#include "service/media/ZoomMath.h"

using platform::display::Rect;

namespace {
std::optional<int> Code(const std::string& text) {
  return SourceCode(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}
}  // namespace

TEST(SourceTextTest, AnswerCodes) {
  const struct {
    std::string text;
    std::optional<int> code;
  } cases[] = {
      {R"({"code":4001})", 4001},
      {R"({"code":0,"msg":"ok"})", 0},
      {R"({"msg":"no code"})", 0},
      {R"({"code":"203"})", 0},  // not an integer: absent
      {std::string("{\"code\":302}\0\0junk", 18), 302},  // cut after the last brace
      {"  {\"code\":4004}\r\n", 4004},
      {R"({"code":)", std::nullopt},  // does not parse: ignored
      {"[1,2]", std::nullopt},        // no brace before the end
      {std::string("\0{\"code\":1}", 11), std::nullopt},  // a zero byte first: media, not text
      {R"([{"code":5}])", std::nullopt},                  // not an object
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Code(c.text), c.code);
  }
}

TEST(SourceTextTest, StartAndSeekFields) {
  StartFields f = ReadStartFields(R"({"action":"playback","data":{"channel":3,"endTime":"1700000060","speed":4}})");
  EXPECT_TRUE(f.hasData);
  EXPECT_EQ(f.channel, 3);
  EXPECT_EQ(f.endTime, "1700000060");
  EXPECT_EQ(f.speed, 4);
  // Wrong types count as absent; a request without "data" reports that.
  f = ReadStartFields(R"({"data":{"channel":"3","endTime":5,"speed":1.5}})");
  EXPECT_TRUE(f.hasData);
  EXPECT_FALSE(f.channel);
  EXPECT_FALSE(f.endTime);
  EXPECT_FALSE(f.speed);
  EXPECT_FALSE(ReadStartFields(R"({"action":"play"})").hasData);
  EXPECT_FALSE(ReadStartFields("not json").hasData);

  EXPECT_EQ(SeekTimeOf(R"({"action":"seek","data":{"seekTime":"1700000030"}})"), 1700000030);
  EXPECT_EQ(SeekTimeOf(R"({"data":{"seekTime":" -12abc"}})"), -12);
  EXPECT_EQ(SeekTimeOf(R"({"data":{"seekTime":"99999999999"}})"), INT32_MAX);
  EXPECT_FALSE(SeekTimeOf(R"({"data":{"seekTime":30}})"));
  EXPECT_FALSE(SeekTimeOf(R"({"seekTime":"30"})"));
}

// A 640x360 window over a 1280x720 picture: scale 0.5 each way, selections in window pixels.
TEST(ZoomMathTest, NestedZoomAndTheFivePixelRule) {
  const struct {
    const char* name;
    Rect shown;
    Rect selection;
    std::optional<Rect> result;
  } cases[] = {
      {"top-left quarter", {0, 0, 1280, 720}, {0, 0, 320, 180}, Rect{0, 0, 640, 360}},
      {"corners reversed", {0, 0, 1280, 720}, {320, 180, 0, 0}, Rect{0, 0, 640, 360}},
      {"nested inside a zoom", {640, 360, 1280, 720}, {320, 180, 640, 360}, Rect{960, 540, 1280, 720}},
      {"rounded down", {0, 0, 1280, 720}, {3, 3, 10, 10}, Rect{6, 6, 20, 20}},
      {"two window pixels deep: 4 picture pixels", {0, 0, 1280, 720}, {10, 10, 200, 12}, std::nullopt},
      {"five picture pixels wide is enough", {0, 0, 1280, 720}, {0, 0, 3, 100}, Rect{0, 0, 6, 200}},
      {"nothing shown yet", {0, 0, 0, 0}, {0, 0, 100, 100}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = NestedZoom(c.shown, c.selection, 640, 360);
    ASSERT_EQ(result.has_value(), c.result.has_value());
    if (result) EXPECT_EQ(*result, *c.result);
  }
  // Zoomed deep enough, even a large selection falls under five pixels.
  EXPECT_FALSE(NestedZoom(Rect{100, 100, 108, 108}, Rect{0, 0, 320, 180}, 640, 360));
}

// 30 frames a second of 12 800 bytes: 100 kilobits each by the sources' count, 3000 a second.
TEST(BitRateMeterTest, FirstFigureAfterTheSecondPeriod) {
  BitRateMeter meter(1000);
  std::optional<int> last;
  std::uint64_t now = 1000;
  for (int frame = 1; frame <= 30 * 7; ++frame) {
    now = 1000 + frame * 1000 / 30;
    const auto rate = meter.AddVideo(12800, now);
    if (now < 1000 + 6000) {
      EXPECT_FALSE(rate) << "frame " << frame;  // the first period only warms up
    }
    if (rate) last = rate;
  }
  ASSERT_TRUE(last);
  EXPECT_NEAR(*last, 3000, 40);
  // A clock that went back ends the period without a figure.
  BitRateMeter wrapped(5000);
  EXPECT_FALSE(wrapped.AddVideo(100, 1000));
  EXPECT_FALSE(wrapped.AddVideo(100, 2000));
  EXPECT_TRUE(wrapped.AddVideo(100, 4000));
}
