#include "watchdog/ServiceKeeper.h"

#include "platform/system/Process.h"
#include "watchdog/Config.h"
#include "watchdog/Console.h"
#include "watchdog/StartLog.h"

namespace {
// Letter case counts. A process list that cannot be read counts as not running.
bool IsProcessRunning(const std::string& name) {
  auto list = platform::system::ListProcesses();
  if (!list) return false;
  for (const auto& entry : *list)
    if (entry.name == name) return true;
  return false;
}
}  // namespace

ServiceKeeper::ServiceKeeper(std::string configPath, std::string startLogPath, CalendarClock clock)
    : m_configPath(std::move(configPath)),
      m_startLogPath(std::move(startLogPath)),
      m_clock(std::move(clock)) {}

void ServiceKeeper::CheckOnce() {
  // A service that ended since the last check must not linger as a zombie: it would still be
  // listed, and the kernel's short name could even match.
  platform::system::ReapStartedProcesses();
  std::string name = ReadInfoName("ServiceProcessName", m_configPath);
  Say("do while .... \n");
  if (IsProcessRunning(name)) return;
  Say("[%s] die ! \n", name.c_str());
  auto pid = platform::system::StartProcess(name, {});
  if (!pid) return;
  AppendStartLogLine(m_startLogPath, m_clock());
  Say("restart [%s] run at 新进程的ID号%d \n", name.c_str(), *pid);
}
