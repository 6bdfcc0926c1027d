// A service killed and started again takes the same ports at once, though its old connections
// linger in TIME_WAIT; a port held by a live listener still counts as occupied.
#include <gtest/gtest.h>

#include <vector>

#include "HostileSupport.h"

namespace {

using platform::net::Family;

TEST(Restart, SamePortsAtOnceAfterKill) {
  const int start = FreePortRange(4);
  ASSERT_NE(start, 0);
  {
    ServiceProcess first(start);
    ASSERT_TRUE(first.Start());
    std::vector<std::unique_ptr<WsClient>> pages;
    for (bool tls : {false, true}) {
      for (Family family : {Family::kIPv4, Family::kIPv6}) {
        pages.push_back(OpenPage(start + (tls ? 1 : 0), tls, family));
        ASSERT_TRUE(pages.back());
        ASSERT_GE(RoundTripMs(*pages.back()), 0);
      }
    }
    first.Signal("KILL");
    ASSERT_EQ(first.WaitExit(), 128 + 9);
    // The service's side closed first: its ends of these connections now wait in TIME_WAIT.
    for (auto& page : pages) EXPECT_TRUE(page->WaitClosed());
  }
  std::string lingering = RunCommand("ss -Htan state time-wait '( sport = :" + std::to_string(start) +
                                     " or sport = :" + std::to_string(start + 1) + " )'");
  ASSERT_NE(lingering, "") << "no connection lingers: the case is not set up";

  ServiceProcess second(start);
  ASSERT_TRUE(second.Start());
  for (Family family : {Family::kIPv4, Family::kIPv6}) {
    EXPECT_TRUE(Answers(start, false, family));
    EXPECT_TRUE(Answers(start + 1, true, family));
  }
  // A second service beside the live one probes on, as before.
  ServiceProcess third(start);
  ASSERT_TRUE(third.Start());
  EXPECT_TRUE(Answers(start + 2, false));
  EXPECT_TRUE(Answers(start + 3, true));
  EXPECT_TRUE(Answers(start, false));
  EXPECT_EQ(third.StopAndTakeSanitizerReport(), "");
  EXPECT_EQ(second.StopAndTakeSanitizerReport(), "");
}

}  // namespace
