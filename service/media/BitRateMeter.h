#pragma once
// The received video bit rate, measured by the feed thread over 3-second periods. The first
// period only warms up: the first figure appears when the second one ends. Feed thread only.
#include <cstddef>
#include <cstdint>
#include <optional>

class BitRateMeter {
 public:
  static constexpr std::uint64_t kPeriodMs = 3000;

  // The period starts at `nowMs`.
  explicit BitRateMeter(std::uint64_t nowMs) : m_periodStart(nowMs) {}
  // One video packet of `payloadSize` bytes arrived at `nowMs`; the new rate in kilobits per
  // second when a period (other than the first) ended with it.
  std::optional<int> AddVideo(std::size_t payloadSize, std::uint64_t nowMs);

 private:
  std::uint64_t m_periodStart;
  std::uint64_t m_kilobits = 0;
  bool m_firstPeriod = true;
};
