#include "service/media/BitRateMeter.h"

std::optional<int> BitRateMeter::AddVideo(std::size_t payloadSize, std::uint64_t nowMs) {
  // (bytes + 4) / 128 is the sources' own kilobit count per frame (a 1024-bit kilobit).
  m_kilobits += (payloadSize + 4) / 128;
  // A clock that went back (a wrapped tick count) also ends the period.
  if (nowMs >= m_periodStart && nowMs - m_periodStart < kPeriodMs) return std::nullopt;
  std::optional<int> rate;
  if (!m_firstPeriod && nowMs > m_periodStart) {
    const std::uint64_t seconds = (nowMs - m_periodStart) / 1000;
    rate = static_cast<int>(static_cast<float>(m_kilobits) / static_cast<float>(seconds));
  }
  m_firstPeriod = false;
  m_kilobits = 0;
  m_periodStart = nowMs;
  return rate;
}
