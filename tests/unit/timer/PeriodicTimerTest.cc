#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/timer/PeriodicTimer.h"

using namespace platform::timer;

namespace {

// Counts calls and lets the test wait for a number of them.
class Calls {
 public:
  void Add() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_count;
    m_changed.notify_all();
  }
  void WaitFor(int n) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_count >= n; });
  }
  int Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_count = 0;
};

// The timer thread runs entries in order of their due times, so while a later timer of the same
// period fires again and again, an entry that was still alive would have fired too.
TEST(PeriodicTimerTest, CallbackMayKillItselfAndStartAnother) {
  Calls own, other;
  std::atomic<TimerId> self{0};
  std::atomic<TimerId> started{0};
  TimerId id = StartPeriodicTimer(1, [&] {
    TimerId me = self.load();
    if (me == 0) return;  // before the test has noted the id
    own.Add();
    if (own.Count() == 2) {
      started = StartPeriodicTimer(1, [&] { other.Add(); });
      KillTimer(me);
    }
  });
  self = id;
  other.WaitFor(20);
  EXPECT_EQ(own.Count(), 2);
  KillTimer(started);
}

TEST(PeriodicTimerTest, KillFromAnotherThreadWaitsForTheRunningCall) {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false, release = false;
  std::atomic<bool> running{false};
  std::atomic<int> calls{0};
  TimerId id = StartPeriodicTimer(1, [&] {
    running = true;
    ++calls;
    std::unique_lock<std::mutex> lock(mutex);
    if (!entered) {
      entered = true;
      changed.notify_all();
      changed.wait(lock, [&] { return release; });
    }
    running = false;
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return entered; });
  }
  bool runningWhenKilled = true;
  std::thread killer([&] {
    KillTimer(id);
    runningWhenKilled = running;
  });
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
    changed.notify_all();
  }
  killer.join();
  EXPECT_FALSE(runningWhenKilled);
  int after = calls;
  // A timer started now fires after any remaining call of the killed one would have.
  Calls marker;
  TimerId next = StartPeriodicTimer(1, [&] { marker.Add(); });
  marker.WaitFor(10);
  KillTimer(next);
  EXPECT_EQ(calls, after);
}

TEST(PeriodicTimerTest, AThrowingCallbackLeavesEveryTimerRunning) {
  Calls thrower, bystander;
  TimerId failing = StartPeriodicTimer(1, [&] {
    thrower.Add();
    if (thrower.Count() % 2) throw std::runtime_error("callback failed");
    throw 7;  // not even an exception type
  });
  TimerId other = StartPeriodicTimer(1, [&] { bystander.Add(); });
  thrower.WaitFor(6);
  bystander.WaitFor(6);
  KillTimer(failing);
  KillTimer(other);
}

}  // namespace
