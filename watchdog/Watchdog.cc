#include "watchdog/Watchdog.h"

#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/system/Folders.h"
#include "platform/system/SingleInstance.h"
#include "watchdog/Config.h"
#include "watchdog/Console.h"
#include "watchdog/CrashHandler.h"
#include "watchdog/PluginRegistrar.h"
#include "watchdog/RootCertificate.h"
#include "watchdog/ServiceKeeper.h"
#include "watchdog/TestSettings.h"

namespace {
constexpr const char* kConfigFile = "config.ini";
constexpr const char* kStartLogFile = "StartLog.log";
constexpr const char* kRootCertificate = "certificates/rootCA.crt";

// An empty name asks for no single-instance rule.
bool AnotherInstanceRuns() {
  std::string name = ReadInfoName("ServiceWatchName", kConfigFile);
  if (name.empty()) return false;
  return platform::system::AcquireSingleInstance(name) !=
         platform::system::SingleInstanceResult::kAcquired;
}
}  // namespace

int RunWatchdog() {
  InstallWatchdogCrashHandler();
  // Settle in the own folder before reading the configuration, so a watchdog started from
  // anywhere reads its own config.ini.
  std::string folder = platform::system::ProgramFolder();
  platform::system::ChangeWorkingDirectory(folder);
  if (AnotherInstanceRuns()) {
    Say("应用程序已经在运行！.... \n");
    return 0;
  }
  Say("process start.... \n");
  Say("CurrentDirectory [%s] \n ", folder.c_str());
  std::error_code ec;
  // Installed at every start: the tool does nothing harmful when the root is already trusted.
  if (std::filesystem::exists(kRootCertificate, ec)) TrustRootCertificate(kRootCertificate);
  Say("End.... \n");

  ServiceKeeper service(folder, kConfigFile, kStartLogFile, StartLogClock());
  PluginRegistrar plugin;
  const auto period = CheckPeriod();
  for (;;) {
    service.CheckOnce();
    plugin.CheckOnce();
    std::this_thread::sleep_for(period);
  }
}
