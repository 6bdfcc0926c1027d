#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "service/host/FrameReader.h"
#include "service/host/OutgoingQueue.h"

namespace {

// Everything the queue holds, written in pieces of at most `piece` bytes at `nowMs`.
std::string Drain(OutgoingQueue& queue, std::size_t piece, std::uint64_t nowMs = 0) {
  std::string out;
  for (OutgoingQueue::Chunk c = queue.Front(); c.size > 0; c = queue.Front()) {
    std::size_t n = std::min(piece, c.size);
    out.append(c.data, n);
    queue.Consume(n, nowMs);
  }
  return out;
}

TEST(OutgoingQueue, WritesInPushOrderWhateverThePieces) {
  for (std::size_t piece : {1u, 3u, 7u, 1000u}) {
    OutgoingQueue queue(100);
    for (const char* s : {"one", "", "two", "three"}) {
      EXPECT_EQ(queue.Push(s, 0), OutgoingQueue::PushResult::kQueued);
    }
    EXPECT_EQ(queue.Bytes(), 11u);
    EXPECT_EQ(Drain(queue, piece), "onetwothree") << piece;
    EXPECT_TRUE(queue.Empty());
  }
}

TEST(OutgoingQueue, BoundRefusesTheOverflowingPushAndEveryLaterOne) {
  struct Case {
    const char* name;
    std::vector<std::size_t> sizes;
    std::vector<OutgoingQueue::PushResult> results;
    bool firstUnbounded;
  };
  using R = OutgoingQueue::PushResult;
  const Case cases[] = {
      {"up to the bound", {60, 40}, {R::kQueued, R::kQueued}, false},
      {"one byte past it", {60, 41, 1}, {R::kQueued, R::kOverflow, R::kRefused}, false},
      {"a single push past it", {101, 1}, {R::kOverflow, R::kRefused}, false},
      {"a whole answer passes, what follows does not", {500, 1}, {R::kQueued, R::kOverflow}, true},
  };
  for (const Case& c : cases) {
    OutgoingQueue queue(100);
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      EXPECT_EQ(queue.Push(std::string(c.sizes[i], 'x'), 0, c.firstUnbounded && i == 0), c.results[i])
          << c.name << " push " << i;
    }
  }
  // Written bytes make room again.
  OutgoingQueue queue(100);
  ASSERT_EQ(queue.Push(std::string(100, 'a'), 0), OutgoingQueue::PushResult::kQueued);
  queue.Consume(30, 0);
  EXPECT_EQ(queue.Push(std::string(30, 'b'), 0), OutgoingQueue::PushResult::kQueued);
  EXPECT_EQ(Drain(queue, 1000), std::string(70, 'a') + std::string(30, 'b'));
}

TEST(OutgoingQueue, StalledSinceFollowsProgress) {
  OutgoingQueue queue;
  EXPECT_EQ(queue.StalledSinceMs(), 0u);
  queue.Push("abcdef", 100);
  queue.Push("gh", 150);  // arriving behind waiting bytes is no progress
  EXPECT_EQ(queue.StalledSinceMs(), 100u);
  queue.Consume(2, 400);
  EXPECT_EQ(queue.StalledSinceMs(), 400u);
  Drain(queue, 1000, 900);
  EXPECT_EQ(queue.StalledSinceMs(), 0u);
  queue.Close();
  EXPECT_EQ(queue.Push("late", 1000), OutgoingQueue::PushResult::kRefused);
  EXPECT_TRUE(queue.Empty());
}

TEST(OutgoingQueue, EachPushersOrderSurvivesConcurrentPushes) {
  OutgoingQueue queue(1u << 30);
  const int kThreads = 4, kEach = 2000;
  std::vector<std::thread> pushers;
  for (int t = 0; t < kThreads; ++t) {
    pushers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) queue.Push(std::to_string(t) + ":" + std::to_string(i) + ";", 0);
    });
  }
  std::string written;
  std::size_t entries = 0;
  while (entries < static_cast<std::size_t>(kThreads * kEach)) {
    OutgoingQueue::Chunk c = queue.Front();
    if (c.size == 0) continue;
    written.append(c.data, c.size);
    queue.Consume(c.size, 0);
    ++entries;
  }
  for (std::thread& p : pushers) p.join();
  std::vector<int> next(kThreads, 0);
  for (std::size_t at = 0; at < written.size();) {
    std::size_t colon = written.find(':', at), semi = written.find(';', at);
    int t = std::stoi(written.substr(at, colon - at));
    ASSERT_EQ(std::stoi(written.substr(colon + 1, semi - colon - 1)), next[t]++);
    at = semi + 1;
  }
  for (int n : next) EXPECT_EQ(n, kEach);
}

TEST(FrameReader, GivesBackALargeBufferOnceTheFrameIsDone) {
  FrameReader reader;
  std::string payload(300000, 'p');
  std::string frame = std::string("\x82\x7F\x00\x00\x00\x00\x00\x04\x93\xE0", 10) + payload;
  std::vector<std::string> texts;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.data());
  ASSERT_TRUE(reader.Feed(bytes, frame.size() - 1, texts));
  EXPECT_GE(reader.Held(), frame.size() - 1);
  ASSERT_TRUE(reader.Feed(bytes + frame.size() - 1, 1, texts));
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_LE(reader.Held(), 4096u);
}

}  // namespace
