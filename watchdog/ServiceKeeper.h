#pragma once
// Starts the service when its process is not running. Watchdog thread only.
#include <string>

#include "watchdog/TestSettings.h"

class ServiceKeeper {
 public:
  ServiceKeeper(std::string configPath, std::string startLogPath, CalendarClock clock);

  // One check: reads the service's name anew, and when no process of exactly that name runs,
  // starts it once from the working directory (no arguments, the watchdog's environment) and
  // notes the start in the start log. A failed start is left to the next check.
  void CheckOnce();

 private:
  std::string m_configPath;
  std::string m_startLogPath;
  CalendarClock m_clock;
};
