#include "watchdog/ServiceKeeper.h"

#include <filesystem>

#include "platform/system/Process.h"
#include "watchdog/Config.h"
#include "watchdog/Console.h"
#include "watchdog/StartLog.h"

namespace {
std::string ProgramPath(const std::string& folder, const std::string& name) {
  return (std::filesystem::path(folder) / name).string();
}

// Letter case counts. A process list that cannot be read counts as not running; so does an
// empty name, whose start then fails.
bool IsServiceRunning(const std::string& folder, const std::string& name) {
  if (name.empty()) return false;
  auto pids = platform::system::OwnProcessesOfProgram(ProgramPath(folder, name));
  return pids && !pids->empty();
}
}  // namespace

ServiceKeeper::ServiceKeeper(std::string programFolder, std::string configPath, std::string startLogPath,
                             CalendarClock clock)
    : m_programFolder(std::move(programFolder)),
      m_configPath(std::move(configPath)),
      m_startLogPath(std::move(startLogPath)),
      m_clock(std::move(clock)) {}

void ServiceKeeper::CheckOnce() {
  // A service that ended since the last check must not linger as a zombie.
  platform::system::ReapStartedProcesses();
  std::string name = ReadInfoName("ServiceProcessName", m_configPath);
  Say("do while .... \n");
  if (IsServiceRunning(m_programFolder, name)) return;
  Say("[%s] die ! \n", name.c_str());
  // An empty name stays empty, so its start fails as it always did.
  auto pid = platform::system::StartProcess(name.empty() ? name : ProgramPath(m_programFolder, name), {});
  if (!pid) return;
  AppendStartLogLine(m_startLogPath, m_clock());
  Say("restart [%s] run at 新进程的ID号%d \n", name.c_str(), *pid);
}
