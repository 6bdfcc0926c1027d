#pragma once
#include <cstdint>

namespace platform::system {

struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Local wall-clock time now.
CalendarTime LocalNow();
// Wall-clock whole seconds (heartbeats compare these).
std::uint64_t WallClockSeconds();
// Monotonic milliseconds, for durations.
std::uint64_t MonotonicMilliseconds();

}  // namespace platform::system
