// Pages that send commands but never read their replies, and clients that never read a large
// file answer: the service closes them, and nobody else waits for them meanwhile.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "HostileSupport.h"

namespace {

using platform::net::Family;

TEST(SlowReader, PagesThatNeverReadDelayNoOtherPage) {
  ServiceProcess service;
  ASSERT_TRUE(service.Start());
  std::filesystem::create_directories(service.Dir() + "/web");
  // Far more than the socket buffers of a peer that does not read hold, yet under the served-file
  // cap, so it is answered rather than refused as too large.
  std::ofstream(service.Dir() + "/web/large.js", std::ios::binary) << std::string(7 << 20, 'j');

  std::unique_ptr<WsClient> page = OpenPage(service.Port(), false);
  ASSERT_TRUE(page);
  // Three pages, one of them over TLS, that send commands at 10 MB/s and never read their
  // replies, reconnecting whenever the service closes them.
  std::atomic<bool> stop{false};
  std::atomic<int> closedByService{0};
  std::string burst;
  for (int i = 0; i < 50; ++i) burst += WsClient::MaskedFrame(0x81, WebConnect(std::string(4000, 's')));
  std::vector<std::thread> hostile;
  // Stops and joins the hostile pages however the test ends.
  struct Joiner {
    std::atomic<bool>& stop;
    std::vector<std::thread>& threads;
    ~Joiner() {
      stop = true;
      for (std::thread& t : threads) t.join();
    }
  } joiner{stop, hostile};
  for (int i = 0; i < 3; ++i) {
    hostile.emplace_back([&, i] {
      bool tls = i == 2;
      while (!stop) {
        std::unique_ptr<WsClient> reader = OpenPage(service.Port() + (tls ? 1 : 0), tls);
        if (!reader) continue;
        while (!stop && reader->SendRaw(burst)) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));  // pacing, not waiting
        }
        if (!stop) ++closedByService;
      }
    });
  }
  // Six requests for a large file whose answers are never read. Reading the file six times is
  // work of its own; what is measured starts once it is done. Past the head, nothing more of the
  // answers is read. Each head is read before the next request: in a slow (sanitizer) build the
  // six answers take longer than a stalled connection is kept, and the reset that closes a getter
  // also discards the head it had not read yet.
  std::vector<std::unique_ptr<WsClient>> getters;
  for (int i = 0; i < 6; ++i) {
    getters.push_back(std::make_unique<WsClient>());
    ASSERT_TRUE(getters.back()->Connect(Family::kIPv4, service.Port(), false, 60000));
    ASSERT_TRUE(getters.back()->SendRaw("GET /web/large.js HTTP/1.1\r\n\r\n"));
    ASSERT_EQ(getters.back()->ReadHttpHead().rfind("HTTP/1.1 200", 0), 0u) << "getter " << i;
  }

  std::vector<double> trips;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((closedByService < 6 || trips.size() < 200) && std::chrono::steady_clock::now() < deadline) {
    double ms = RoundTripMs(*page, std::to_string(trips.size()));
    ASSERT_GE(ms, 0) << "round trip " << trips.size();
    trips.push_back(ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // pacing, not waiting
  }
  stop = true;
  EXPECT_GE(closedByService, 6);
  // Queued replies passed the bound (a slow sanitizer build may take the stall first), and the
  // file answers stayed unread.
  EXPECT_TRUE(kSanitized || service.WaitForLine("outgoing queue passed", 0));
  EXPECT_TRUE(service.WaitForLine("did not take what it was sent", 15000));
  std::sort(trips.begin(), trips.end());
  double p95 = trips[trips.size() * 95 / 100];
  std::printf("%zu round trips: median %.2f ms, 95th %.2f ms, max %.2f ms\n", trips.size(), trips[trips.size() / 2],
              p95, trips.back());
  // A writer that waited for these readers would hold others for seconds; the 95th percentile
  // leaves room for a shared, busy machine's scheduling.
  EXPECT_LT(p95, kSanitized ? 1000.0 : 50.0);
  EXPECT_LT(trips.back(), kSanitized ? 2500.0 : 1000.0);
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
