// Out of descriptors, the service rests instead of spinning, keeps serving the connections it
// has, and serves new ones again once descriptors are free.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "HostileSupport.h"

namespace {

TEST(DescriptorLimit, BacksOffAndServesAgain) {
  ServiceProcess service;
  ASSERT_TRUE(service.Start("ulimit -n 64;"));
  std::unique_ptr<WsClient> page = OpenPage(service.Port(), false);
  ASSERT_TRUE(page);
  std::string error;
  auto address = platform::net::Resolve("127.0.0.1", service.Port(), &error);
  ASSERT_FALSE(address.empty());
  std::vector<platform::net::SocketHandle> held;
  for (int i = 0; i < 90; ++i) {
    platform::net::SocketHandle s = platform::net::ConnectTo(address[0], 5000);
    if (s != platform::net::kInvalidSocket) held.push_back(s);
  }
  ASSERT_TRUE(service.WaitForLine("Out of descriptors", 10000));
  double cpuBefore = CpuSeconds(service.Pid());
  auto windowStart = std::chrono::steady_clock::now();
  // The page it already has is served meanwhile.
  while (std::chrono::steady_clock::now() - windowStart < std::chrono::seconds(3)) {
    ASSERT_GE(RoundTripMs(*page), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a measuring window, not a wait
  }
  double cpu = CpuSeconds(service.Pid()) - cpuBefore;
  std::printf("service CPU over 3 s at the descriptor limit: %.2f s\n", cpu);
  EXPECT_LT(cpu, 0.3);

  for (platform::net::SocketHandle s : held) platform::net::CloseSocket(s);
  EXPECT_TRUE(Answers(service.Port(), false));
  EXPECT_TRUE(Answers(service.Port() + 1, true));
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
