#pragma once
// Settings only tests change, through the environment; unset, the watchdog keeps its real pace
// and the real clock.
#include <chrono>
#include <functional>

#include "platform/system/Clock.h"

// NIMBREL_TEST_WATCHDOG_PERIOD_MS: time between two checks (default 10 s).
std::chrono::milliseconds CheckPeriod();

using CalendarClock = std::function<platform::system::CalendarTime()>;
// NIMBREL_TEST_WATCHDOG_TIME="YYYY-MM-DD hh:mm:ss": a clock standing still at that time;
// otherwise local time.
CalendarClock StartLogClock();
