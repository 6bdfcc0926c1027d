#pragma once
// Periodic callbacks on one timer thread shared by the process (the multimedia-timer stand-in).
// Start and Kill may be called from any thread, including from inside a callback.
#include <cstdint>
#include <functional>

namespace platform::timer {

using TimerId = std::uint32_t;  // 0 = none

// First call after `periodMs`, then every `periodMs` (missed periods are not replayed).
TimerId StartPeriodicTimer(int periodMs, std::function<void()> callback);

// After it returns the callback is not running and will not run again, except when called from
// the callback itself, where the current call simply finishes.
void KillTimer(TimerId id);

}  // namespace platform::timer
