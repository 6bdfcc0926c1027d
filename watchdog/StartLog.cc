#include "watchdog/StartLog.h"

#include <fstream>

#include "common/TimeText.h"

bool AppendStartLogLine(const std::string& path, const platform::system::CalendarTime& when) {
  std::ofstream out(path, std::ios::app);
  if (!out) return false;
  out << "[" << FormatLogTime(when) << "] Start the Service Control.\n";
  return static_cast<bool>(out.flush());
}
