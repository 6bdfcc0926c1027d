// Sixteen panes started and stopped every few seconds for a long time: no crash, no pane that
// fails to start or to stop, and resident memory that stays where the first third left it.
// NIMBREL_SOAK_SECONDS sets the length (120 by default; 3600 for the long run),
// NIMBREL_SOAK_PERIOD_MS the time each round plays (3000 by default). Memory growth is judged on
// runs of 30 minutes or more: in two minutes the warm-up of the pools is still part of it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "FaultRig.h"

namespace {

using namespace std::chrono_literals;

constexpr int kPanes = 16;

int EnvInt(const char* name, int otherwise) {
  const char* text = std::getenv(name);
  return text && std::atoi(text) > 0 ? std::atoi(text) : otherwise;
}

TEST(SoakTest, SixteenPanesStartingAndStopping) {
  const auto length = std::chrono::seconds(EnvInt("NIMBREL_SOAK_SECONDS", 120));
  const auto period = std::chrono::milliseconds(EnvInt("NIMBREL_SOAK_PERIOD_MS", 3000));
  PrivateXServer x;
  ASSERT_FALSE(x.Display().empty());
  sourcetest::SourceProcess source("--port 0");
  ASSERT_TRUE(source.Started());
  ServiceProcess service;
  const char* extra = std::getenv("NIMBREL_SOAK_SERVICE_ENV");  // for experiments (MALLOC_ARENA_MAX=...)
  service.SetEnvironment("DISPLAY=" + x.Display() + " NIMBREL_NO_PULSE=1 " + (extra ? extra : ""));
  ASSERT_TRUE(service.Start());
  auto group = OpenGroupPage(service.Port(), x.Display(), kPanes);
  ASSERT_TRUE(group);
  PageClient& page = group->page;
  const std::string url = "ws://127.0.0.1:" + std::to_string(source.Port()) + "/soak?width=352&height=288&fps=10";

  const auto begin = std::chrono::steady_clock::now();
  long warmKiB = 0, peakKiB = 0, lastKiB = 0;
  int rounds = 0;
  int streamed = 0;  // source connections that reached streaming
  while (std::chrono::steady_clock::now() - begin < length || rounds < 4) {
    SCOPED_TRACE("round " + std::to_string(rounds));
    for (int pane = 0; pane < kPanes; ++pane)
      ASSERT_EQ(DataInt(page.Command("startPlay", PlayData(url + "&round=" + std::to_string(rounds), pane)), "errorCode"),
                0);
    // Every pane reached its source and streams.
    streamed += kPanes;
    ASSERT_TRUE(WaitUntil([&] { return CountSourceEvents(source, "streaming") >= streamed; }, 30s))
        << CountSourceEvents(source, "streaming") << " of " << streamed << " panes streamed";
    std::this_thread::sleep_for(period);  // the panes play for a while: that is the load
    for (int pane = 0; pane < kPanes; ++pane) {
      const auto asked = std::chrono::steady_clock::now();
      ASSERT_EQ(DataInt(page.Command("stopPlay", StopData(pane)), "errorCode"), 0);
      EXPECT_LT(std::chrono::steady_clock::now() - asked, kSanitized ? 10s : 3s) << "pane " << pane << " stuck";
    }
    // Every connection of the round closed.
    ASSERT_TRUE(WaitUntil([&] { return CountSourceEvents(source, "close") >= streamed; }, 30s))
        << CountSourceEvents(source, "close") << " of " << streamed << " connections closed";
    ASSERT_TRUE(ProcessRuns(service.Pid())) << "the service ended";
    lastKiB = ResidentKiB(service.Pid());
    peakKiB = std::max(peakKiB, lastKiB);
    std::printf("SOAK round=%d residentKiB=%ld\n", rounds, lastKiB);
    // The first third fills the pools, caches and per-thread malloc arenas a steady service
    // keeps (they settle after some tens of rounds of new threads); growth is counted after it.
    if (++rounds >= 3 && warmKiB == 0 && std::chrono::steady_clock::now() - begin >= length / 3) warmKiB = lastKiB;
  }
  const double growth = 100.0 * static_cast<double>(lastKiB - warmKiB) / static_cast<double>(warmKiB);
  std::printf("SOAK rounds=%d seconds=%lld warmKiB=%ld lastKiB=%ld peakKiB=%ld growthPct=%.2f\n", rounds,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                                                      begin)
                                         .count()),
              warmKiB, lastKiB, peakKiB, growth);
  if (!kSanitized && length >= std::chrono::minutes(30)) {
    EXPECT_LT(growth, 5.0) << "resident memory grew from " << warmKiB << " KiB to " << lastKiB << " KiB";
  }
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
