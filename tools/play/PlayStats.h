#pragma once
// Counts and latencies of one nimbrel-play run. Received is counted on the main thread; decoded,
// presented and latencies on the library's decode thread; the mutex guards the latency list.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace play {

class PlayStats {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::uint32_t kRing = 4096;

  // A video frame handed to the library; returns the sequence number to pass as its time.
  std::uint32_t Received();
  void Decoded(std::uint32_t sequence);
  void Presented();

  std::int64_t ReceivedCount() const { return m_received; }
  std::int64_t PresentedCount() const { return m_presented; }
  // "received N decoded N presented N dropped N fps F cpu S latency-p50 MS latency-p99 MS"
  std::string Line(double cpuSeconds) const;

 private:
  std::atomic<std::int64_t> m_received{0};
  std::atomic<std::int64_t> m_decoded{0};
  std::atomic<std::int64_t> m_presented{0};
  Clock::time_point m_receivedAt[kRing];
  std::atomic<std::uint32_t> m_current{0};
  mutable std::mutex m_mutex;
  std::vector<double> m_latencies;
  Clock::time_point m_firstPresent{};
  Clock::time_point m_lastPresent{};
};

// Value at `fraction` (0..1) of the sorted values; 0 when there are none.
double Percentile(std::vector<double> values, double fraction);

}  // namespace play
