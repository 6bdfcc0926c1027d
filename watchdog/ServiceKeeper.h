#pragma once
// Starts the service when its process is not running. Watchdog thread only.
#include <string>

#include "watchdog/TestSettings.h"

class ServiceKeeper {
 public:
  // `folder`: the watchdog's own folder, where the service's program lies; also the working
  // directory.
  ServiceKeeper(std::string folder, std::string configPath, std::string startLogPath, CalendarClock clock);

  // One check: reads the service's name anew, and when no process of this user runs the
  // program of that name in `folder`, starts it once from the working directory (no
  // arguments, the watchdog's environment) and notes the start in the start log. Another
  // user's service, or one run from another folder, is not ours. A failed start is left to
  // the next check.
  void CheckOnce();

 private:
  std::string m_folder;
  std::string m_configPath;
  std::string m_startLogPath;
  CalendarClock m_clock;
};
