// Playback channels: controls passed to the source, packets held while paused, the end of the
// file, prompt stops with a full queue, source loss, and channels destroyed midway.
#include <chrono>

#include "ChannelHarness.h"
#include "tests/unit/media/OutputCapture.h"

using namespace channeltest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kT0 = 1700000000;

std::string PlaybackRequest(std::uint32_t start, std::uint32_t end, int speed = 1) {
  return R"({"action":"playback","data":{"channel":1,"startTime":")" + std::to_string(start) + R"(","endTime":")" +
         std::to_string(end) + R"(","speed":)" + std::to_string(speed) + "}}";
}

StartArgs Playback(const std::string& query, std::uint32_t seconds, int speed = 1) {
  StartArgs args;
  args.query = "mode=playback&" + query;
  args.request = PlaybackRequest(kT0, kT0 + seconds, speed);
  args.playback = true;
  return args;
}

long long MillisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

// Pause, resume, speed and seek reach the source as the page wrote them; right after the seek the
// page is told the seek target; the drained end is reported exactly once.
TEST_F(ChannelTest, PlaybackControlsAndTheEndOfTheFile) {
  FedLog fed;
  auto channel = Start(Playback("width=320&height=180", 20), fed.Options());
  ASSERT_TRUE(WaitMorePresents(3));
  channel->SetPaused(true, R"({"action":"pause"})");
  EXPECT_TRUE(m_source->WaitEvent({"\"text\"", "\"action\":\"pause\"", "\"applied\":true"}));
  EXPECT_TRUE(channel->IsPaused());
  channel->SetPaused(false, R"({"action":"resume"})");
  EXPECT_TRUE(m_source->WaitEvent({"\"text\"", "\"action\":\"resume\"", "\"applied\":true"}));
  channel->SetPlaySpeed(8, R"({"action":"speed","data":{"speed":8}})");
  EXPECT_TRUE(m_source->WaitEvent({"\"text\"", "\"speed\":8"}));

  const std::uint32_t target = kT0 + 12;
  channel->SeekPlayback(R"({"action":"seek","data":{"seekTime":")" + std::to_string(target) + R"("}})");
  EXPECT_EQ(channel->ReportPlayTime(), static_cast<int>(target));
  EXPECT_TRUE(m_source->WaitEvent({"\"text\"", "\"seekTo\":" + std::to_string(target)}));
  EXPECT_TRUE(WaitUntil([&] { return channel->ReportPlayTime() >= static_cast<int>(target); }));

  const auto notices = m_events.WaitNotices("playbackFileEnd");
  ASSERT_EQ(m_events.Count("playbackFileEnd"), 1u);
  EXPECT_EQ(notices.back().value, std::to_string(kT0 + 20));
  EXPECT_EQ(channel->PlayerHandle(), 0);
  const auto times = fed.Video();
  ASSERT_FALSE(times.empty());
  for (size_t i = 1; i < times.size(); ++i) ASSERT_LE(times[i - 1], times[i]) << i;
  EXPECT_GE(times.back(), kT0 + 19);
  channel->StopStream("");
  EXPECT_EQ(m_events.Count("playbackFileEnd"), 1u);
}

// One frame a second of stream time, sent 16 times as fast, so each frame has its own time. A
// pause the source does not hear holds what keeps arriving; resuming releases it in order, and
// every frame the source sent reaches the library once.
TEST_F(ChannelTest, PacketsHeldWhilePausedComeOutInOrder) {
  FedLog fed;
  auto channel = Start(Playback("fps=1&speed=16&width=160&height=96", 48, 16), fed.Options());
  ASSERT_TRUE(WaitUntil([&] { return fed.Video().size() >= 3; }));
  channel->SetPaused(true, "");
  ASSERT_TRUE(WaitUntil([&] { return channel->HeldPackets() >= 8; }));
  channel->SetPaused(false, "");
  m_events.WaitNotices("playbackFileEnd");
  ASSERT_EQ(m_events.Count("playbackFileEnd"), 1u);
  const auto times = fed.Video();
  ASSERT_EQ(times.size(), 48u);
  for (std::uint32_t i = 0; i < 48; ++i) EXPECT_EQ(times[i], kT0 + i) << i;
  channel->StopStream("");
}

// The client thread may be held in the receive path (paused with its held packets full, or the
// library answering -8 until the queue is full): a stop or a destruction still returns at once.
TEST_F(ChannelTest, StopIsPromptWhileTheQueueIsFull) {
  const struct {
    const char* name;
    bool paused;  // else the library plays 1/256 as fast as the source sends
    bool destroy;
  } cases[] = {
      {"paused, held packets full, stop", true, false},
      {"library full, queue full, stop", false, false},
      {"paused, held packets full, destroyed", true, true},
      {"library full, queue full, destroyed", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto channel = Start(Playback("width=160&height=96", 60, 16));
    if (!c.paused) channel->SetPlaySpeed(-16, "");  // the library only: the source keeps its pace
    if (c.paused) {
      channel->SetPaused(true, "");
      ASSERT_TRUE(WaitUntil([&] { return channel->HeldPackets() == 500; }));
    } else {
      ASSERT_TRUE(WaitUntil([&] { return channel->QueuedPackets() == 500; }));
    }
    const auto start = Clock::now();
    if (c.destroy) {
      channel.reset();
    } else {
      channel->StopStream(R"({"action":"stop"})");
    }
    const long long took = MillisSince(start);
    std::printf("%s: %lld ms\n", c.name, took);
    EXPECT_LT(took, 1500);
    if (!c.destroy) {
      EXPECT_EQ(channel->QueuedPackets(), 0u);
      EXPECT_EQ(channel->HeldPackets(), 0u);
    }
  }
}

// A playback whose pane is outside the layout holds its source back until the layout grows.
TEST_F(ChannelTest, PlaybackWaitsWhileItsPaneIsOutsideTheLayout) {
  StartArgs args = Playback("width=160&height=96", 30);
  args.pane = 4;
  args.paneCount = 4;
  auto channel = Start(args);
  ASSERT_TRUE(m_source->WaitEvent({"\"streaming\""}));
  // Nothing to wait for: the pane must stay dark while the layout hides it.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(m_output.Presents(m_window), 0);
  EXPECT_EQ(channel->PlayerHandle(), 0);
  channel->SetPaneCount(9);
  EXPECT_TRUE(WaitMorePresents(3));
  channel->StopStream("");
}

// The source goes away: the client reconnects and sends the request again to the source that
// comes back on the same port; when none comes back it gives up after its attempts.
TEST_F(ChannelTest, SourceLossAndReconnects) {
  OutputCapture output;
  const int port = m_source->Port();
  auto channel = Start(StartArgs{}, WithReconnectDelay(std::chrono::milliseconds(400)));
  ASSERT_TRUE(WaitMorePresents(3));
  m_source.reset();
  ASSERT_TRUE(StartSource(port));
  EXPECT_TRUE(m_source->WaitEvent({"\"request\"", "sessionID"}));
  EXPECT_TRUE(WaitMorePresents(5));

  m_source.reset();
  EXPECT_TRUE(output.WaitFor("Link err over 5 times, stop\n"));
  const auto start = Clock::now();
  channel->StopStream("");
  EXPECT_LT(MillisSince(start), 500);
  ASSERT_TRUE(StartSource());  // for TearDown's symmetry
}

// A channel destroyed without a stop, at any point of its life, ends its threads and frees all.
TEST_F(ChannelTest, DestroyedMidway) {
  enum When { kAtOnce, kReconnecting, kPlaying, kPlayingBack };
  for (When when : {kAtOnce, kReconnecting, kPlaying, kPlayingBack}) {
    SCOPED_TRACE(when);
    StartArgs args = when == kPlayingBack ? Playback("width=160&height=96", 30) : StartArgs{};
    OutputCapture output;
    auto channel = Start(args, WithReconnectDelay(std::chrono::milliseconds(200)));
    if (when == kReconnecting) {
      channel = std::make_unique<PlayChannel>(WithReconnectDelay(std::chrono::milliseconds(200)));
      channel->StartStream("ws://127.0.0.1:1/none", "{}", m_window, StreamDescription{}, false, 0, "{K}", 4, false);
      ASSERT_TRUE(output.WaitFor("Link false, reconnect after 200 ms\n"));
    } else if (when != kAtOnce) {
      ASSERT_TRUE(WaitMorePresents(3));
    }
    const auto start = Clock::now();
    channel.reset();
    EXPECT_LT(MillisSince(start), 1500);
  }
}
