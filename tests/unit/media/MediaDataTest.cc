// Media headers, codec codes, the AV library's stream record, and the packet queue's policies.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "common/DebugLog.h"
#include "service/media/MediaHeader.h"
#include "service/media/PacketQueue.h"

namespace {
std::vector<uint8_t> Header(uint8_t kind, uint8_t wire, uint32_t rate) {
  std::vector<uint8_t> h(kMediaHeaderSize, 0);
  const uint8_t fixed[] = {0x01, 0x02, 0x03, 0x04};
  std::memcpy(h.data(), fixed, 4);
  h[4] = kind;
  h[5] = 1;
  h[6] = 0x34;  // talk length field: not read on receipt
  h[8] = 0xAA;
  // frame time 0x00012345 big-endian
  h[13] = 0x01, h[14] = 0x23, h[15] = 0x45;
  // rate little-endian
  for (int i = 0; i < 4; ++i) h[16 + i] = static_cast<uint8_t>(rate >> (8 * i));
  h[22] = 0x07, h[23] = 0x80;  // width 1920
  h[26] = 0x04, h[27] = 0x38;  // height 1080
  h[28] = wire;
  h[29] = 5;
  h[35] = 9;
  return h;
}

std::unique_ptr<MediaPacket> Packet(uint32_t time, uint16_t second = 0) {
  auto p = std::make_unique<MediaPacket>();
  p->frameTime = time;
  p->secondFrame = second;
  return p;
}
}  // namespace

TEST(MediaHeaderTest, FieldsAndByteOrders) {
  auto bytes = Header(1, 0, 25);
  bytes.push_back(0x00);  // payload
  auto h = ParseMediaHeader(bytes.data(), bytes.size());
  ASSERT_TRUE(h);
  EXPECT_EQ(h->word0, 0x01020304u);
  EXPECT_TRUE(h->IsVideo());
  EXPECT_EQ(h->dot, 1);
  EXPECT_EQ(h->word8, 0xAA000000u);
  EXPECT_EQ(h->frameTime, 0x12345u);
  EXPECT_EQ(h->rate, 25u);
  EXPECT_EQ(h->width, 1920u);
  EXPECT_EQ(h->height, 1080u);
  EXPECT_EQ(h->codec, 96);
  EXPECT_EQ(h->frameType, 5);
  EXPECT_EQ(h->word32, 9u);
}

TEST(MediaHeaderTest, WhatIsNotMedia) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool media;
  };
  std::string json = "{\"code\":302}                                 ";
  std::vector<uint8_t> zeroFirst = Header(1, 0, 25);
  zeroFirst[30] = '{';  // after the zero bytes: still media
  std::vector<uint8_t> braceFirst = Header(1, 0, 25);
  std::vector<uint8_t> short35 = Header(1, 0, 25);
  short35.pop_back();
  braceFirst[0] = '{';
  const Case cases[] = {
      {"36 bytes", Header(1, 0, 25), true},
      {"35 bytes", short35, false},
      {"empty", {}, false},
      {"JSON text", std::vector<uint8_t>(json.begin(), json.end()), false},
      {"brace after a zero byte", zeroFirst, true},
      {"brace before any zero byte", braceFirst, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseMediaHeader(c.bytes.data(), c.bytes.size()).has_value(), c.media);
  }
}

TEST(MediaHeaderTest, CodecCodesBothWays) {
  struct Case {
    bool video;
    int wire;
    uint32_t rate;
    int library;
    int backToWire;
  };
  const Case cases[] = {
      {true, 0, 25, 96, 0},       {true, 1, 25, 150, 1},      {true, 3, 25, 26, 3},
      {false, 16, 8000, 1, 16},   {false, 17, 8000, 2, 17},   {false, 21, 44100, 21, 21},
      {false, 21, 8000, 33, 21},  {false, 21, 16000, 34, 21}, {false, 21, 32000, 37, 21},
      {true, 7, 25, 7, 7},        {false, 22, 8000, 22, 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    auto bytes = Header(c.video ? 1 : 0, static_cast<uint8_t>(c.wire), c.rate);
    auto h = ParseMediaHeader(bytes.data(), bytes.size());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->codec, c.library);
    EXPECT_EQ(LibraryCodecToWire(c.video, c.library), c.backToWire);
  }
  EXPECT_EQ(AudioCodecForLibrary(22), 1);
  EXPECT_EQ(AudioCodecForLibrary(2), 2);
}

// The library reads the record by offset; write each field and find its bytes where they belong.
TEST(StreamDescriptionTest, FieldOffsets) {
  StreamDescription d{};
  d.videoCodec = 0x0102;
  d.audioCodec = 0x0304;
  d.frameRate = 0x0506;
  d.bitRate = 0x0708;
  d.width = 0x090A;
  d.height = 0x0B0C;
  d.frameType = 0x0D0E;
  d.secondFrame = 0x0F10;
  d.kind = 0x1112;
  d.streamMode = 0x1314;
  d.frameTime = 0x18171615;
  d.reserved = 0x1C1B1A19;
  uint8_t raw[28];
  std::memcpy(raw, &d, sizeof raw);
  for (int i = 0; i < 28; i += 2) {
    // Little-endian 16-bit fields counting up from 0x0102; the two 32-bit words count up bytewise.
    if (i < 20) {
      EXPECT_EQ(raw[i], i + 2) << i;
      EXPECT_EQ(raw[i + 1], i + 1) << i;
    } else {
      EXPECT_EQ(raw[i], i + 1) << i;
      EXPECT_EQ(raw[i + 1], i + 2) << i;
    }
  }
}

// Live: the 501st packet is dropped and logged; discarding then lasts until a packet whose
// second-frame flag is clear.
TEST(PacketQueueTest, LiveOverflowDropsAndDiscards) {
  std::vector<std::string> log;
  SetDebugLogSink([&](const std::string& line) { log.push_back(line); });
  PacketQueue q;
  for (uint32_t i = 0; i < PacketQueue::kMaxSize; ++i) q.Push(Packet(i));
  EXPECT_TRUE(log.empty());
  q.Push(Packet(500));
  EXPECT_EQ(q.Count(), PacketQueue::kMaxSize);
  EXPECT_TRUE(q.Discarding());
  EXPECT_EQ(log, std::vector<std::string>{"InputDataToQueue que_count >= m_nMaxSize, throw packet!"});

  EXPECT_EQ(q.Pop()->frameTime, 0u);
  EXPECT_EQ(q.Pop()->frameTime, 1u);
  q.Push(Packet(501, 1));  // room again, but still discarding
  EXPECT_EQ(q.Count(), PacketQueue::kMaxSize - 2);
  auto audio = Packet(600);
  audio->kind = 1;  // audio is kept, and does not end the wait for a picture
  q.Push(std::move(audio));
  EXPECT_TRUE(q.Discarding());
  EXPECT_EQ(q.Pop()->frameTime, 2u);
  q.Push(Packet(502, 0));
  EXPECT_FALSE(q.Discarding());
  q.Push(Packet(503, 1));
  EXPECT_EQ(log.size(), 1u);
  SetDebugLogSink(nullptr);
  std::vector<uint32_t> order;
  while (auto p = q.Pop()) order.push_back(p->frameTime);
  ASSERT_EQ(order.size(), PacketQueue::kMaxSize);
  EXPECT_EQ(order.front(), 3u);
  EXPECT_EQ(order[order.size() - 4], 499u);
  EXPECT_EQ(order[order.size() - 3], 600u);
  EXPECT_EQ(order[order.size() - 2], 502u);
  EXPECT_EQ(order.back(), 503u);
}

// Playback: a push into a full queue waits for room (made by a pop or a clear), and a stop
// releases it without queuing.
TEST(PacketQueueTest, PlaybackPushWaits) {
  enum Release { kPop, kClear, kStop };
  for (Release how : {kPop, kClear, kStop}) {
    SCOPED_TRACE(how);
    PacketQueue q;
    q.SetDropMode(false);
    for (uint32_t i = 0; i < PacketQueue::kMaxSize; ++i) q.Push(Packet(i));
    std::thread pusher([&] { q.Push(Packet(1000)); });
    if (how == kStop) {
      q.Stop();
    } else if (how == kClear) {
      q.Clear();
    } else {
      EXPECT_EQ(q.Pop()->frameTime, 0u);
    }
    pusher.join();
    EXPECT_FALSE(q.Discarding());
    if (how == kStop) {
      EXPECT_EQ(q.Count(), PacketQueue::kMaxSize);
    } else if (how == kClear) {
      ASSERT_EQ(q.Count(), 1u);
      EXPECT_EQ(q.Pop()->frameTime, 1000u);
    } else {
      ASSERT_EQ(q.Count(), PacketQueue::kMaxSize);
      std::unique_ptr<MediaPacket> last;
      while (auto p = q.Pop()) last = std::move(p);
      EXPECT_EQ(last->frameTime, 1000u);
    }
  }
}


// The feed's wait ends at once on a push from another thread, on Stop, and on a Wake given
// before or during the wait; only the push yields a packet.
TEST(PacketQueueTest, WaitReadyEndsOnEvents) {
  enum Event { kPush, kStop, kWakeBefore, kWakeDuring };
  for (Event event : {kPush, kStop, kWakeBefore, kWakeDuring}) {
    SCOPED_TRACE(event);
    PacketQueue q;
    if (event == kWakeBefore) q.Wake();
    std::thread other([&] {
      if (event == kPush) q.Push(Packet(7));
      if (event == kStop) q.Stop();
      if (event == kWakeDuring) q.Wake();
    });
    const auto start = std::chrono::steady_clock::now();
    const bool ready = q.WaitReady(std::chrono::seconds(30));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    other.join();
    EXPECT_EQ(ready, event == kPush);
    if (ready) {
      EXPECT_EQ(q.Pop()->frameTime, 7u);  // the wait leaves the packet in place
    }
  }
  PacketQueue idle;
  EXPECT_FALSE(idle.WaitReady(std::chrono::milliseconds(1)));
}

// A live packet may skip the queue only when it would come out first anyway and in one piece:
// nothing waits, no overflow is being skipped past, the queue has not stopped.
TEST(PacketQueueTest, PassableOnlyWhenNothingWaitsOrIsSkipped) {
  PacketQueue q;
  EXPECT_TRUE(q.Passable());
  q.Push(Packet(1));
  EXPECT_FALSE(q.Passable());
  q.Pop();
  EXPECT_TRUE(q.Passable());
  for (uint32_t i = 0; i <= PacketQueue::kMaxSize; ++i) q.Push(Packet(i, 1));
  q.Clear();
  EXPECT_FALSE(q.Passable()) << "after an overflow, a picture that leans on the lost ones";
  q.Push(Packet(600, 0));
  q.Pop();
  EXPECT_TRUE(q.Passable());
  q.Stop();
  EXPECT_FALSE(q.Passable());
}
