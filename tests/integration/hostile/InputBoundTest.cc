// Unfinished requests and frames: a bound on what all connections together may hold, and a
// deadline for an unfinished frame like that of an unfinished request.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "HostileSupport.h"

namespace {

using platform::net::Family;

TEST(InputBound, UnfinishedRequestsOfManyConnectionsKeepMemoryBounded) {
  ServiceProcess service;
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(Answers(service.Port(), false));
  long before = StatusKb(service.Pid(), "VmRSS");
  ASSERT_GT(before, 0);
  // 30 connections, each sending 15 MB of headers that never end.
  const std::string piece = "X-Fill: " + std::string(1 << 20, 'a') + "\r\n";
  std::vector<std::thread> senders;
  for (int i = 0; i < 30; ++i) {
    senders.emplace_back([&, i] {
      WsClient client;
      if (!client.Connect(i % 2 ? Family::kIPv6 : Family::kIPv4, service.Port(), false)) return;
      if (!client.SendRaw("GET /web/page.html HTTP/1.1\r\n")) return;
      for (int mb = 0; mb < 15 && client.SendRaw(piece); ++mb) {
      }
    });
  }
  for (std::thread& t : senders) t.join();
  long peak = StatusKb(service.Pid(), "VmHWM");
  std::printf("resident before %ld KiB, peak %ld KiB\n", before, peak);
  // 64 MiB of input at most, and room for what the allocator keeps.
  if (!kSanitized) {
    EXPECT_LT(peak - before, 128 * 1024);
  }
  // A slow sanitizer build may reach each connection's request deadline before the total.
  EXPECT_TRUE(kSanitized || service.WaitForLine("Unfinished input of all connections passed", 0));
  EXPECT_TRUE(Answers(service.Port(), false));
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

TEST(InputBound, AnUnfinishedFrameHasTheDeadlineOfAnUnfinishedRequest) {
  ServiceProcess service;
  ASSERT_TRUE(service.Start());
  std::unique_ptr<WsClient> stalled = OpenPage(service.Port(), false, Family::kIPv4, 30000);
  std::unique_ptr<WsClient> busy = OpenPage(service.Port(), false, Family::kIPv4, 30000);
  ASSERT_TRUE(stalled && busy);
  // The first 20 of 1000 announced payload bytes, and nothing more.
  ASSERT_TRUE(stalled->SendRaw(WsClient::MaskedFrame(0x81, WebConnect(std::string(980, 'x'))).substr(0, 28)));
  auto start = std::chrono::steady_clock::now();
  // Meanwhile a page that keeps finishing its frames in pieces is not cut off.
  std::thread keeper([&] {
    std::string frame = WsClient::MaskedFrame(0x81, WebConnect("k"));
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(12)) {
      for (char b : frame) {
        if (!busy->SendRaw(std::string(1, b))) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // pacing, not waiting
      }
      if (!busy->ReadText()) return;
    }
  });
  EXPECT_TRUE(stalled->WaitClosed());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  keeper.join();
  EXPECT_GT(seconds, 9.0);
  EXPECT_LT(seconds, 15.0);
  EXPECT_GE(RoundTripMs(*busy), 0);
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
