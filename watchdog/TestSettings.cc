#include "watchdog/TestSettings.h"

#include <cstdio>
#include <cstdlib>

#include "common/IniFile.h"

namespace {
constexpr std::chrono::milliseconds kCheckPeriod{10000};
}

std::chrono::milliseconds CheckPeriod() {
  const char* text = std::getenv("NIMBREL_TEST_WATCHDOG_PERIOD_MS");
  int ms = text ? AtoiText(text) : 0;
  return ms > 0 ? std::chrono::milliseconds(ms) : kCheckPeriod;
}

CalendarClock StartLogClock() {
  const char* text = std::getenv("NIMBREL_TEST_WATCHDOG_TIME");
  platform::system::CalendarTime t;
  if (text && std::sscanf(text, "%d-%d-%d %d:%d:%d", &t.year, &t.month, &t.day, &t.hour,
                          &t.minute, &t.second) == 6)
    return [t] { return t; };
  return platform::system::LocalNow;
}
