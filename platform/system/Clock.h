#pragma once
#include <cstdint>

#include "common/CalendarTime.h"

namespace platform::system {

using CalendarTime = ::CalendarTime;

// Local wall-clock time now.
CalendarTime LocalNow();
// Wall-clock whole seconds (heartbeats compare these).
std::uint64_t WallClockSeconds();
// Monotonic milliseconds, for durations.
std::uint64_t MonotonicMilliseconds();

}  // namespace platform::system
