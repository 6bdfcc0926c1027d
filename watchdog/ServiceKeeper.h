#pragma once
// Starts the service when its process is not running. Watchdog thread only.
#include <string>

#include "watchdog/TestSettings.h"

class ServiceKeeper {
 public:
  // `programFolder`: the watchdog's own folder, where the service's program lies. The service
  // runs in the watchdog's working directory (the run folder, often the same folder).
  ServiceKeeper(std::string programFolder, std::string configPath, std::string startLogPath, CalendarClock clock);

  // One check: reads the service's name anew, and when no process of this user runs the
  // program of that name in the program folder, starts it once in the working directory (no
  // arguments, the watchdog's environment) and notes the start in the start log. Another
  // user's service, or one run from another folder, is not ours. A failed start is left to
  // the next check.
  void CheckOnce();

 private:
  std::string m_programFolder;
  std::string m_configPath;
  std::string m_startLogPath;
  CalendarClock m_clock;
};
