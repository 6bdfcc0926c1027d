#include "watchdog/Watchdog.h"

#include <cstdlib>
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

// An installed watchdog lies in a folder the user cannot write; its starter names the user's
// run folder in NIMBREL_RUN_DIR. Otherwise the program's own folder is the run folder.
std::string RunFolder(const std::string& programFolder) {
  const char* named = std::getenv("NIMBREL_RUN_DIR");
  return named && *named ? std::string(named) : programFolder;
}

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
  // Settle in the run folder before reading the configuration, so a watchdog started from
  // anywhere reads its own config.ini.
  std::string programFolder = platform::system::ProgramFolder();
  std::string folder = RunFolder(programFolder);
  if (!platform::system::ChangeWorkingDirectory(folder)) {
    Say("Run folder [%s] unusable \n", folder.c_str());
    return 1;
  }
  if (AnotherInstanceRuns()) {
    Say("应用程序已经在运行！.... \n");
    return 0;
  }
  Say("process start.... \n");
  Say("CurrentDirectory [%s] \n ", folder.c_str());
  std::error_code ec;
  // Installed at every start: the tool does nothing harmful when the root is already trusted.
  RootTrust trust;
  if (std::filesystem::exists(kRootCertificate, ec)) trust.Start(kRootCertificate);
  Say("End.... \n");

  ServiceKeeper service(programFolder, kConfigFile, kStartLogFile, StartLogClock());
  PluginRegistrar plugin;
  const auto period = CheckPeriod();
  for (;;) {
    service.CheckOnce();
    plugin.CheckOnce();
    trust.CheckOnce();
    std::this_thread::sleep_for(period);
  }
}
