#include "watchdog/ServiceKeeper.h"

#include <filesystem>

#include "platform/system/Process.h"
#include "watchdog/Config.h"
#include "watchdog/Console.h"
#include "watchdog/StartLog.h"

namespace {
// Letter case counts. A process list that cannot be read counts as not running; so does an
// empty name, whose start then fails.
bool IsServiceRunning(const std::string& folder, const std::string& name) {
  if (name.empty()) return false;
  // Resolved as the start resolves it: against the folder, which is the working directory.
  auto pids = platform::system::OwnProcessesOfProgram((std::filesystem::path(folder) / name).string());
  return pids && !pids->empty();
}
}  // namespace

ServiceKeeper::ServiceKeeper(std::string folder, std::string configPath, std::string startLogPath,
                             CalendarClock clock)
    : m_folder(std::move(folder)),
      m_configPath(std::move(configPath)),
      m_startLogPath(std::move(startLogPath)),
      m_clock(std::move(clock)) {}

void ServiceKeeper::CheckOnce() {
  // A service that ended since the last check must not linger as a zombie.
  platform::system::ReapStartedProcesses();
  std::string name = ReadInfoName("ServiceProcessName", m_configPath);
  Say("do while .... \n");
  if (IsServiceRunning(m_folder, name)) return;
  Say("[%s] die ! \n", name.c_str());
  auto pid = platform::system::StartProcess(name, {});
  if (!pid) return;
  AppendStartLogLine(m_startLogPath, m_clock());
  Say("restart [%s] run at 新进程的ID号%d \n", name.c_str(), *pid);
}
