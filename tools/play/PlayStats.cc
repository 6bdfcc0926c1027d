#include "PlayStats.h"

#include <algorithm>
#include <cstdio>

namespace play {

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

std::uint32_t PlayStats::Received() {
  const auto sequence = static_cast<std::uint32_t>(m_received++);
  std::lock_guard<std::mutex> lock(m_mutex);
  m_receivedAt[sequence % kRing] = Clock::now();
  return sequence;
}

void PlayStats::Decoded(std::uint32_t sequence) {
  ++m_decoded;
  m_current = sequence;
}

void PlayStats::Presented() {
  const auto now = Clock::now();
  ++m_presented;
  std::lock_guard<std::mutex> lock(m_mutex);
  // The picture presented is the one whose decode callback came just before.
  m_latencies.push_back(std::chrono::duration<double, std::milli>(now - m_receivedAt[m_current % kRing]).count());
  if (m_firstPresent == Clock::time_point{}) m_firstPresent = now;
  m_lastPresent = now;
}

std::string PlayStats::Line(double cpuSeconds) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const double span = std::chrono::duration<double>(m_lastPresent - m_firstPresent).count();
  const std::int64_t presented = m_presented;
  const double fps = span > 0 && presented > 1 ? (presented - 1) / span : 0;
  char line[256];
  std::snprintf(line, sizeof line,
                "received %lld decoded %lld presented %lld dropped %lld fps %.1f cpu %.3f latency-p50 %.1f "
                "latency-p99 %.1f",
                static_cast<long long>(m_received.load()), static_cast<long long>(m_decoded.load()),
                static_cast<long long>(presented), static_cast<long long>(std::max<std::int64_t>(0, m_received - presented)),
                fps, cpuSeconds, Percentile(m_latencies, 0.5), Percentile(m_latencies, 0.99));
  return line;
}

}  // namespace play
