#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/system/CrashHandler.h"
#include "service/host/MessageQueue.h"
#include "service/host/WsServer.h"

namespace {

TEST(HangCheck, Verdicts) {
  struct Case {
    const char* name;
    std::uint64_t now, last;
    bool dialog, stalled;
  };
  const Case cases[] = {
      {"loop not started", 1000, 0, false, false},
      {"fresh heartbeat", 1000, 999, false, false},
      {"19 s old", 1019, 1000, false, false},
      {"20 s old", 1020, 1000, false, true},
      {"folder dialog open", 5000, 1000, true, false},
      {"heartbeat ahead of the reading", 1000, 1001, false, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLoopStalled(c.now, c.last, c.dialog), c.stalled) << c.name;
}

TEST(CrashDump, NameFromLocalTime) {
  EXPECT_EQ(platform::system::CrashDumpName(2025, 3, 2, 9, 5, 3), "tmp2025_03_02__09_05_03.dmp");
}

TEST(MessageQueue, KeepsOrderAndBoundsTheBacklog) {
  MessageQueue queue;
  const int total = 500;
  std::vector<std::string> popped;
  std::thread consumer([&] {
    while (auto m = queue.Pop()) {
      popped.push_back(m->text);
      if (popped.size() == total) break;
    }
  });
  for (int i = 0; i < total; ++i) {
    ASSERT_TRUE(queue.Push(InboundMessage{1, 1, "id", std::to_string(i)}));
    EXPECT_LE(queue.Size(), MessageQueue::kCapacity);
  }
  consumer.join();
  ASSERT_EQ(popped.size(), static_cast<std::size_t>(total));
  for (int i = 0; i < total; ++i) EXPECT_EQ(popped[i], std::to_string(i));
}

TEST(MessageQueue, CloseReleasesAWaitingPusher) {
  MessageQueue queue;
  for (std::size_t i = 0; i < MessageQueue::kCapacity; ++i) ASSERT_TRUE(queue.Push(InboundMessage{}));
  std::thread pusher([&] { EXPECT_FALSE(queue.Push(InboundMessage{})); });
  queue.Close();
  pusher.join();
  EXPECT_FALSE(queue.Pop().has_value());
}

}  // namespace
