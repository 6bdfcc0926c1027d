// nimbrel-play's parsers: source URLs, media headers, latency percentiles.
#include <gtest/gtest.h>

#include "PlayStats.h"
#include "VXAVPlayer.h"
#include "WireFrame.h"
#include "WsClient.h"

namespace {

TEST(NimbrelPlayPartsTest, UrlsSplitIntoTlsHostPortAndPath) {
  struct Case {
    const char* url;
    bool ok;
    bool tls;
    const char* host;
    int port;
    const char* path;
  } cases[] = {
      {"ws://127.0.0.1:8080/live?codec=h264", true, false, "127.0.0.1", 8080, "/live?codec=h264"},
      {"ws://camera", true, false, "camera", 80, "/"},
      {"wss://camera/x", true, true, "camera", 443, "/x"},
      {"ws://[::1]:9000/a/b", true, false, "::1", 9000, "/a/b"},
      {"wss://[fe80::1]", true, true, "fe80::1", 443, "/"},
      {"http://camera/", false, false, "", 0, ""},
      {"ws://camera:0/", false, false, "", 0, ""},
      {"ws://camera:99999/", false, false, "", 0, ""},
      {"ws://camera:12ab/", false, false, "", 0, ""},
      {"ws://[::1/", false, false, "", 0, ""},
      {"ws://", false, false, "", 0, ""},
  };
  for (const auto& c : cases) {
    play::WsUrl url;
    ASSERT_EQ(play::ParseWsUrl(c.url, &url), c.ok) << c.url;
    if (!c.ok) continue;
    EXPECT_EQ(url.tls, c.tls) << c.url;
    EXPECT_EQ(url.host, c.host) << c.url;
    EXPECT_EQ(url.port, c.port) << c.url;
    EXPECT_EQ(url.path, c.path) << c.url;
  }
}

TEST(NimbrelPlayPartsTest, MediaHeadersReadInTheLibrarysTerms) {
  std::uint8_t message[40] = {};
  message[4] = 1;                                  // video
  message[15] = 7;                                 // time 7, big-endian
  message[16] = 25;                                // rate 25, little-endian
  message[22] = 0x01, message[23] = 0x60;          // width 352
  message[26] = 0x01, message[27] = 0x20;          // height 288
  message[28] = 1;                                 // H.265
  message[29] = 1;
  auto frame = play::ParseWireFrame(message, sizeof message);
  ASSERT_TRUE(frame.has_value());
  EXPECT_TRUE(frame->video);
  EXPECT_EQ(frame->time, 7u);
  EXPECT_EQ(frame->rate, 25u);
  EXPECT_EQ(frame->width, 352u);
  EXPECT_EQ(frame->height, 288u);
  EXPECT_EQ(frame->codec, VX_CODEC_H265);
  EXPECT_EQ(frame->payloadSize, 4u);
  EXPECT_FALSE(play::ParseWireFrame(message, 35).has_value());

  struct Codec {
    bool video;
    int wire;
    std::uint32_t rate;
    int library;
  } codecs[] = {{true, 0, 25, VX_CODEC_H264},      {true, 3, 25, VX_CODEC_MJPEG},
                {false, 16, 8000, VX_CODEC_G711A},  {false, 17, 8000, VX_CODEC_G711U},
                {false, 21, 8000, VX_CODEC_AAC_8K}, {false, 21, 16000, VX_CODEC_AAC_16K},
                {false, 21, 32000, VX_CODEC_AAC_32K}, {false, 21, 44100, VX_CODEC_AAC},
                {true, 9, 25, 9}};
  for (const auto& c : codecs) EXPECT_EQ(play::LibraryCodec(c.video, c.wire, c.rate), c.library) << c.wire;
}

TEST(NimbrelPlayPartsTest, PercentilesPickFromTheSortedValues) {
  EXPECT_EQ(play::Percentile({}, 0.5), 0);
  EXPECT_EQ(play::Percentile({5, 1, 3}, 0.5), 3);
  std::vector<double> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);
  EXPECT_EQ(play::Percentile(hundred, 0.99), 99);
  EXPECT_EQ(play::Percentile(hundred, 1.0), 100);
}

}  // namespace
