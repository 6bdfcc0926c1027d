#include "platform/timer/PeriodicTimer.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "common/DebugLog.h"

namespace platform::timer {

namespace {
using Clock = std::chrono::steady_clock;

struct Entry {
  std::chrono::milliseconds period;
  Clock::time_point due;
  std::function<void()> callback;
};

class TimerThread {
 public:
  static TimerThread& Instance() {
    // Never destroyed: callbacks may still be due while the process exits.
    static TimerThread* t = new TimerThread;
    return *t;
  }

  TimerId Start(int periodMs, std::function<void()> cb) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread.joinable()) m_thread = std::thread([this] { Loop(); });
    TimerId id = ++m_nextId;
    if (id == 0) id = ++m_nextId;
    auto period = std::chrono::milliseconds(periodMs < 1 ? 1 : periodMs);
    m_entries[id] = Entry{period, Clock::now() + period, std::move(cb)};
    m_wake.notify_all();
    return id;
  }

  void Kill(TimerId id) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_entries.erase(id);
    if (std::this_thread::get_id() == m_thread.get_id()) return;
    m_idle.wait(lock, [&] { return m_running != id; });
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      if (m_entries.empty()) {
        m_wake.wait(lock);
        continue;
      }
      auto next = m_entries.begin();
      for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
        if (it->second.due < next->second.due) next = it;
      auto now = Clock::now();
      // A copy: the wait reads the time again after waking, and a Kill meanwhile frees the entry.
      const Clock::time_point due = next->second.due;
      if (due > now) {
        m_wake.wait_until(lock, due);
        continue;
      }
      TimerId id = next->first;
      Entry& e = next->second;
      do {
        e.due += e.period;
      } while (e.due <= now);
      auto cb = e.callback;
      m_running = id;
      lock.unlock();
      Call(cb);
      lock.lock();
      m_running = 0;
      m_idle.notify_all();
    }
  }

  // One callback's failure must not end the thread that every other timer runs on.
  static void Call(const std::function<void()>& cb) {
    try {
      cb();
    } catch (const std::exception& e) {
      DebugLog("Timer callback failed: %s", e.what());
    } catch (...) {
      DebugLog("Timer callback failed.");
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::map<TimerId, Entry> m_entries;
  TimerId m_nextId = 0;
  TimerId m_running = 0;
  std::thread m_thread;
};
}  // namespace

TimerId StartPeriodicTimer(int periodMs, std::function<void()> callback) {
  return TimerThread::Instance().Start(periodMs, std::move(callback));
}

void KillTimer(TimerId id) {
  if (id != 0) TimerThread::Instance().Kill(id);
}

}  // namespace platform::timer
