// The real nimbrelwd against real processes. Each test gets a folder of its own holding a copy of
// the watchdog, its config.ini and whatever service and plug-in files the case needs; service
// names carry the test's process id so parallel runs never see each other's services.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "platform/system/Process.h"

namespace fs = std::filesystem;
using namespace platform::system;
using namespace std::chrono_literals;

namespace {

constexpr const char* kPeriodMs = "100";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int CountOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Re-checks a condition the watchdog's output or files will show, up to a generous limit.
bool WaitUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

bool Runs(ProcessId pid) {
  auto list = ListProcesses();
  if (!list) return false;
  for (const auto& e : *list)
    if (e.pid == pid) return true;
  return false;
}

class WatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    m_folder = fs::path(NIMBREL_BINARY_DIR) / "watchdog-runs" / name;
    fs::remove_all(m_folder);
    fs::create_directories(m_folder);
    fs::copy_file(WATCHDOG_PATH, m_folder / "nimbrelwd");
    m_serviceName = "wdsvc" + std::to_string(CurrentProcessId());
    m_environment = {std::string("NIMBREL_TEST_WATCHDOG_PERIOD_MS=") + kPeriodMs,
                     "NIMBREL_TEST_REGISTRY=" + (m_folder / "registry.ini").string(),
                     "NIMBREL_TEST_PLUGIN_LOG=" + (m_folder / "plugin.log").string()};
  }

  void TearDown() override {
    for (ProcessId pid : m_watchdogs) {
      KillProcess(pid);
      WaitForExit(pid, 5000);
    }
    for (ProcessId pid : ServicePids()) KillProcess(pid);
    for (ProcessId pid : m_others) {
      KillProcess(pid);
      WaitForExit(pid, 5000);
    }
    if (!HasFailure()) fs::remove_all(m_folder);
  }

  void WriteConfig(const std::string& watchName, const std::string& processName) {
    std::ofstream(m_folder / "config.ini") << "[Info]\nServiceWatchName=" << watchName
                                           << "\nServiceProcessName=" << processName << "\n";
  }

  void CopyIn(const std::string& from, const std::string& name) {
    fs::copy_file(from, m_folder / name, fs::copy_options::overwrite_existing);
  }

  void WriteRegistry(const std::string& text) {
    std::ofstream(m_folder / "registry.tmp") << text;
    fs::rename(m_folder / "registry.tmp", m_folder / "registry.ini");
  }

  // Started from the test's own directory: the watchdog must settle in its folder by itself.
  ProcessId StartWatchdog(const std::string& output = "out.log") {
    StartOptions options;
    options.extraEnvironment = m_environment;
    options.outputFile = (m_folder / output).string();
    auto pid = StartProcess((m_folder / "nimbrelwd").string(), options);
    EXPECT_TRUE(pid);
    if (pid) m_watchdogs.push_back(*pid);
    return pid.value_or(0);
  }

  // Lets it run `passes` full checks first.
  void Stop(ProcessId watchdog, int passes = 0) {
    if (passes) WaitForFullPasses(passes);
    KillProcess(watchdog);
    WaitForExit(watchdog, 5000);
  }

  std::string Output(const std::string& output = "out.log") { return ReadFile(m_folder / output); }
  int Passes(const std::string& output = "out.log") { return CountOf(Output(output), "do while"); }
  int Starts() { return CountOf(Output(), "restart ["); }

  // Waits until `n` more checks have run from start to end.
  void WaitForFullPasses(int n, const std::string& output = "out.log") {
    int target = Passes(output) + n + 1;
    ASSERT_TRUE(WaitUntil([&] { return Passes(output) >= target; })) << Output(output);
  }

  std::vector<ProcessId> ServicePids() {
    std::vector<ProcessId> pids;
    std::string out = Output();
    std::regex started("ID号([0-9]+)");
    for (std::sregex_iterator it(out.begin(), out.end(), started), end; it != end; ++it)
      pids.push_back(std::stoi((*it)[1]));
    return pids;
  }

  fs::path m_folder;
  std::string m_serviceName;
  std::vector<std::string> m_environment;
  std::vector<ProcessId> m_watchdogs;
  std::vector<ProcessId> m_others;
};

TEST_F(WatchdogTest, StartsServiceLogsItAndRestartsItWithinOneCycleAfterKill) {
  WriteConfig("", m_serviceName);
  CopyIn(TEST_SERVICE_PATH, m_serviceName);
  m_environment.push_back("NIMBREL_TEST_WATCHDOG_TIME=2024-03-05 07:08:09");
  StartWatchdog();

  ASSERT_TRUE(WaitUntil([&] { return Starts() == 1; })) << Output();
  ProcessId first = ServicePids().at(0);
  EXPECT_TRUE(Runs(first));
  EXPECT_EQ(ReadFile(m_folder / "StartLog.log"), "[2024-03-05 07:08:09] Start the Service Control.\n");

  // While it runs, no second copy.
  WaitForFullPasses(3);
  EXPECT_EQ(Starts(), 1);

  int passesAtKill = Passes();
  ASSERT_TRUE(KillProcess(first));
  ASSERT_TRUE(WaitUntil([&] { return Starts() == 2; })) << Output();
  std::string out = Output();
  size_t restart = out.find("restart [", out.find("restart [") + 1);
  // The check running at the kill may have listed just before it; the next one must restart.
  EXPECT_LE(CountOf(out.substr(0, restart), "do while"), passesAtKill + 2) << out;
  EXPECT_TRUE(Runs(ServicePids().at(1)));
  EXPECT_EQ(ReadFile(m_folder / "StartLog.log"),
            "[2024-03-05 07:08:09] Start the Service Control.\n"
            "[2024-03-05 07:08:09] Start the Service Control.\n");
}

TEST_F(WatchdogTest, NameMatchesExactlyWithLetterCase) {
  struct Case {
    std::string running, configured;
    bool started;
  } cases[] = {
      {m_serviceName, m_serviceName, false},
      {"W" + m_serviceName, "w" + m_serviceName, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.running + " / " + c.configured);
    CopyIn(TEST_SERVICE_PATH, c.running);
    CopyIn(TEST_SERVICE_PATH, c.configured);
    WriteConfig("", c.configured);
    auto running = StartProcess((m_folder / c.running).string(), {});
    ASSERT_TRUE(running);
    m_others.push_back(*running);

    fs::remove(m_folder / "out.log");
    Stop(StartWatchdog(), 3);
    EXPECT_EQ(Starts(), c.started ? 1 : 0) << Output();
    EXPECT_TRUE(Runs(*running));
    for (ProcessId pid : ServicePids()) KillProcess(pid);
  }
}

TEST_F(WatchdogTest, ServiceThatEndsAtOnceIsStartedOncePerCycle) {
  WriteConfig("", m_serviceName);
  CopyIn(TEST_SERVICE_PATH, m_serviceName);
  m_environment.push_back("NIMBREL_TEST_SERVICE_EXIT=1");
  // A start log that cannot be opened does not hold the service back.
  fs::create_directory(m_folder / "StartLog.log");
  StartWatchdog();
  ASSERT_TRUE(WaitUntil([&] { return Starts() >= 4; })) << Output();

  std::string out = Output();
  int startsInCheck = 0;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("do while") != std::string::npos) startsInCheck = 0;
    if (line.find("restart [") != std::string::npos) {
      EXPECT_EQ(++startsInCheck, 1) << out;
    }
  }
  // Ended services do not pile up as zombies: all but the latest are gone from /proc.
  auto pids = ServicePids();
  ASSERT_GE(pids.size(), 3u);
  for (size_t i = 0; i + 2 < pids.size(); ++i)
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pids[i]))) << pids[i];
}

TEST_F(WatchdogTest, SecondWatchdogWithTheSameNameEndsWithZero) {
  std::string watchName = "NimbrelWatchTest" + std::to_string(CurrentProcessId());
  WriteConfig(watchName, m_serviceName);
  CopyIn(TEST_SERVICE_PATH, m_serviceName);
  ProcessId first = StartWatchdog();
  ASSERT_TRUE(WaitUntil([&] { return Starts() == 1; })) << Output();

  ProcessId second = StartWatchdog("second.log");
  EXPECT_EQ(WaitForExit(second, 20000), 0);
  EXPECT_NE(Output("second.log").find("应用程序已经在运行"), std::string::npos);

  // The lock dies with its watchdog even though the service it started lives on.
  KillProcess(first);
  ASSERT_TRUE(WaitForExit(first, 5000));
  ProcessId third = StartWatchdog("third.log");
  WaitForFullPasses(2, "third.log");
  EXPECT_FALSE(WaitForExit(third, 0));
  EXPECT_EQ(CountOf(Output("third.log"), "restart ["), 0) << "the first service still runs";
}

TEST_F(WatchdogTest, PluginIsRegisteredOnceAndAgainAfterItsVersionDisappears) {
  WriteConfig("", "");
  CopyIn(TEST_PLUGIN_IPC_PATH, "npQmIPCCtl.dll");
  StartWatchdog();
  auto registrations = [&] { return CountOf(ReadFile(m_folder / "plugin.log"), "\n"); };

  ASSERT_TRUE(WaitUntil([&] { return registrations() == 1; })) << Output();
  WaitForFullPasses(3);
  EXPECT_EQ(registrations(), 1);

  WriteRegistry("[SOFTWARE\\QM\\VxIPCCtl]\nVersion=1.0.0.1\n");
  WaitForFullPasses(2);
  EXPECT_EQ(registrations(), 1);

  WriteRegistry("");
  ASSERT_TRUE(WaitUntil([&] { return registrations() == 2; })) << Output();
  WaitForFullPasses(2);
  EXPECT_EQ(registrations(), 2);
  EXPECT_EQ(CountOf(Output(), "Service Watch Registry ocx failed"), 0);
  // An empty service name is never found, and its start fails without a trace.
  EXPECT_FALSE(fs::exists(m_folder / "StartLog.log"));
}

TEST_F(WatchdogTest, PluginKindFollowsWhichLibraryIsPresent) {
  struct Case {
    bool ipc, nvr;
    std::string registry, registered;
  } cases[] = {
      {true, false, "", "ipc\n"},
      {false, true, "", "nvr\n"},
      {true, true, "", "ipc\n"},
      // Only the first library's key counts when both are present.
      {true, true, "[SOFTWARE\\QM\\VxIPCCtl]\nVersion=1\n", ""},
      {true, true, "[SOFTWARE\\QM\\VxVRWebPlugin]\nVersion=1\n", "ipc\n"},
      {false, true, "[software\\qm\\vxvrwebplugin]\nversion=2\n", ""},
      {false, false, "", ""},
  };
  WriteConfig("", "");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.ipc) + std::to_string(c.nvr) + " " + c.registry);
    fs::remove(m_folder / "npQmIPCCtl.dll");
    fs::remove(m_folder / "npQmNvrNetClient.dll");
    fs::remove(m_folder / "plugin.log");
    if (c.ipc) CopyIn(TEST_PLUGIN_IPC_PATH, "npQmIPCCtl.dll");
    if (c.nvr) CopyIn(TEST_PLUGIN_NVR_PATH, "npQmNvrNetClient.dll");
    WriteRegistry(c.registry);
    Stop(StartWatchdog(), 3);
    EXPECT_EQ(ReadFile(m_folder / "plugin.log"), c.registered);
  }
}

TEST_F(WatchdogTest, EveryFailedRegistrationWritesTheDebugLine) {
  struct Case {
    std::string what;
    std::function<void()> prepare;
  } cases[] = {
      {"entry answers failure",
       [&] {
         CopyIn(TEST_PLUGIN_IPC_PATH, "npQmIPCCtl.dll");
         m_environment.push_back("NIMBREL_TEST_PLUGIN_RESULT=-2147467259");
       }},
      {"no entry", [&] { CopyIn(TEST_PLUGIN_NOENTRY_PATH, "npQmIPCCtl.dll"); }},
      {"not a library", [&] { std::ofstream(m_folder / "npQmIPCCtl.dll") << "MZ not really"; }},
      {"a folder", [&] { fs::create_directory(m_folder / "npQmIPCCtl.dll"); }},
  };
  WriteConfig("", "");
  const auto environment = m_environment;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(m_folder / "npQmIPCCtl.dll");
    fs::remove(m_folder / "out.log");
    m_environment = environment;
    c.prepare();
    Stop(StartWatchdog(), 3);
    // One line for each check, each check tries again.
    int checks = Passes();
    // The line exactly, without the service's log tag.
    int failures = CountOf("\n" + Output(), "\nService Watch Registry ocx failed\n");
    EXPECT_GE(failures, checks - 1) << Output();
    EXPECT_LE(failures, checks) << Output();
  }
}

// A stand-in certutil records each call's arguments, one per line, each call ending in "--".
// The stores: the shared NSS database and every Firefox profile (a folder with prefs.js or
// cert9.db) in either of Firefox's places, nothing else there.
TEST_F(WatchdogTest, OnlyALoopbackConstrainedRootIsTrustedAndTheOldRootWithdrawn) {
  WriteConfig("", "");
  fs::create_directories(m_folder / "bin");
  std::ofstream(m_folder / "bin" / "certutil") << "#!/bin/sh\nprintf '%s\\n' \"$@\" -- >> \"$CERTUTIL_LOG\"\n";
  fs::permissions(m_folder / "bin" / "certutil", fs::perms::owner_all);
  const fs::path firefox = m_folder / "home/.mozilla/firefox";
  fs::create_directories(firefox / "a.default-esr");
  std::ofstream(firefox / "a.default-esr/prefs.js");
  const fs::path xdgFirefox = m_folder / "home/config/mozilla/firefox";
  fs::create_directories(xdgFirefox / "b.used");
  std::ofstream(xdgFirefox / "b.used/cert9.db");
  fs::create_directories(firefox / "Crash Reports");
  std::ofstream(firefox / "profiles.ini");
  const auto environment = m_environment;
  m_environment.push_back("HOME=" + (m_folder / "home").string());
  m_environment.push_back("XDG_CONFIG_HOME=" + (m_folder / "home/config").string());
  m_environment.push_back("CERTUTIL_LOG=" + (m_folder / "certutil.log").string());
  m_environment.push_back("PATH=" + (m_folder / "bin").string());
  const std::vector<std::string> stores = {(m_folder / "home/.pki/nssdb").string(), (firefox / "a.default-esr").string(),
                                           (xdgFirefox / "b.used").string()};
  auto withdrawals = [&] {
    std::set<std::string> calls;
    for (const auto& store : stores) calls.insert("-d\nsql:" + store + "\n-D\n-n\nNimbrel Local Root CA\n--\n");
    return calls;
  };
  // The calls of the log, withdrawals (which come first) and additions apart.
  auto split = [&](const std::string& log, std::set<std::string>& withdrawn, std::set<std::string>& added) {
    size_t at = 0;
    for (size_t end; (end = log.find("--\n", at)) != std::string::npos; at = end + 3) {
      std::string call = log.substr(at, end + 3 - at);
      const bool withdrawal = call.find("\n-D\n") != std::string::npos;
      if (withdrawal) {
        EXPECT_TRUE(added.empty()) << log;
      }
      (withdrawal ? withdrawn : added).insert(call);
    }
  };

  // What the build makes: the old root goes first, then the new one is added under its own name,
  // to the shared database (made when missing) and each profile.
  ASSERT_EQ(std::system(("bash " NIMBREL_SOURCE_DIR "/scripts/make-certs.sh '" + m_folder.string() + "' >/dev/null").c_str()), 0);
  ProcessId trusting = StartWatchdog();
  std::string calls;
  ASSERT_TRUE(WaitUntil([&] { return CountOf(calls = ReadFile(m_folder / "certutil.log"), "--\n") == 5; })) << calls;
  // A profile made while it runs (Firefox first started after login) gets the root too, once.
  fs::create_directories(firefox / "c.late");
  std::ofstream(firefox / "c.late/prefs.js");
  const std::string late = "-d\nsql:" + (firefox / "c.late").string() + "\n-A\n";
  ASSERT_TRUE(WaitUntil([&] { return CountOf(ReadFile(m_folder / "certutil.log"), late) == 1; }))
      << ReadFile(m_folder / "certutil.log");
  Stop(trusting, 3);
  EXPECT_EQ(CountOf(ReadFile(m_folder / "certutil.log"), "--\n"), 6) << ReadFile(m_folder / "certutil.log");
  fs::remove_all(firefox / "c.late");
  std::set<std::string> withdrawn, added;
  split(calls, withdrawn, added);
  std::set<std::string> expectedWithdrawn = withdrawals();
  // The shared database did not exist before this start: nothing to withdraw there.
  expectedWithdrawn.erase("-d\nsql:" + stores[0] + "\n-D\n-n\nNimbrel Local Root CA\n--\n");
  EXPECT_EQ(withdrawn, expectedWithdrawn) << calls;
  ASSERT_EQ(added.size(), 3u) << calls;
  for (const auto& store : stores) {
    const std::string prefix = "-d\nsql:" + store + "\n-A\n-t\nC,,\n-n\nNimbrel Local Root CA 2";
    EXPECT_EQ(std::count_if(added.begin(), added.end(),
                            [&](const std::string& call) {
                              return call.rfind(prefix, 0) == 0 &&
                                     call.find("-i\ncertificates/rootCA.crt\n--\n") != std::string::npos;
                            }),
              1)
        << store << "\n" << calls;
  }
  EXPECT_TRUE(fs::is_directory(stores[0]));

  // A root that could vouch for any site is refused; the old one is still withdrawn everywhere.
  fs::remove(m_folder / "certutil.log");
  ASSERT_EQ(std::system(("cd '" + m_folder.string() + "/certificates' && openssl req -x509 -newkey ec -pkeyopt "
                         "ec_paramgen_curve:P-256 -nodes -keyout /dev/null -subj /CN=Any -out rootCA.crt "
                         "-addext basicConstraints=critical,CA:TRUE 2>/dev/null").c_str()), 0);
  ProcessId refusing = StartWatchdog("refused.log");
  WaitForFullPasses(2, "refused.log");
  Stop(refusing);
  EXPECT_NE(Output("refused.log").find("Root certificate certificates/rootCA.crt not installed: no name constraints\n"),
            std::string::npos)
      << Output("refused.log");
  withdrawn.clear();
  added.clear();
  split(ReadFile(m_folder / "certutil.log"), withdrawn, added);
  EXPECT_EQ(withdrawn, withdrawals());
  EXPECT_TRUE(added.empty());

  m_environment = environment;
  m_environment.push_back("PATH=" + (m_folder / "certificates").string());
  ProcessId watchdog = StartWatchdog("without-tool.log");
  WaitForFullPasses(2, "without-tool.log");
  EXPECT_FALSE(WaitForExit(watchdog, 0));
}

// Installed, the programs lie in a folder the user cannot write and NIMBREL_RUN_DIR names the
// user's run folder: configuration, start log and the service's working directory are there,
// the service's program is the one beside the watchdog.
TEST_F(WatchdogTest, NamedRunFolderHoldsEverythingButThePrograms) {
  const fs::path run = m_folder / "run";
  fs::create_directories(run);
  std::ofstream(run / "config.ini") << "[Info]\nServiceWatchName=\nServiceProcessName=" << m_serviceName << "\n";
  CopyIn(TEST_SERVICE_PATH, m_serviceName);
  m_environment.push_back("NIMBREL_RUN_DIR=" + run.string());
  StartWatchdog();
  ASSERT_TRUE(WaitUntil([&] { return Starts() == 1; })) << Output();
  ProcessId service = ServicePids().at(0);
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(service) + "/cwd"), run);
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(service) + "/exe"), m_folder / m_serviceName);
  EXPECT_EQ(CountOf(ReadFile(run / "StartLog.log"), "Start the Service Control.\n"), 1);
  EXPECT_FALSE(fs::exists(m_folder / "StartLog.log"));
  // Found running by its program's path: no second copy.
  WaitForFullPasses(3);
  EXPECT_EQ(Starts(), 1);

  // A run folder that does not exist ends the watchdog instead of running it elsewhere.
  m_environment.back() = "NIMBREL_RUN_DIR=" + (m_folder / "missing").string();
  ProcessId lost = StartWatchdog("lost.log");
  EXPECT_EQ(WaitForExit(lost, 10000), 1);
}

// Only the user's own service, run from the watchdog's folder, counts: a program of the same
// name elsewhere, or one of another user, does not keep the watchdog from starting its own.
TEST_F(WatchdogTest, AForeignServiceOfTheSameNameDoesNotCount) {
  fs::create_directories(m_folder / "elsewhere");
  CopyIn(TEST_SERVICE_PATH, m_serviceName);
  CopyIn(TEST_SERVICE_PATH, "elsewhere/" + m_serviceName);
  WriteConfig("", m_serviceName);
  struct Case {
    std::string what;
    std::string program;
    std::vector<std::string> arguments;
    bool needsRoot;
  } cases[] = {
      {"another folder", (m_folder / "elsewhere" / m_serviceName).string(), {}, false},
      {"another user",
       "setpriv",
       {"--reuid=65534", "--regid=65534", "--clear-groups", (m_folder / m_serviceName).string()},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && std::system("test \"$(id -u)\" = 0") != 0) {
      std::cout << "[ SKIPPED  ] " << c.what << ": only root can run a program as another user\n";
      continue;
    }
    StartOptions options;
    options.arguments = c.arguments;
    options.searchPath = true;
    auto foreign = StartProcess(c.program, options);
    ASSERT_TRUE(foreign);
    m_others.push_back(*foreign);
    fs::remove(m_folder / "out.log");
    ProcessId watchdog = StartWatchdog();
    ASSERT_TRUE(WaitUntil([&] { return Starts() == 1; })) << Output();
    // Its own service is found from then on: no second start.
    WaitForFullPasses(3);
    Stop(watchdog);
    EXPECT_EQ(Starts(), 1) << Output();
    EXPECT_TRUE(Runs(*foreign));
    for (ProcessId pid : ServicePids()) KillProcess(pid);
  }
}
}  // namespace

namespace {
TEST_F(WatchdogTest, CrashLeavesTmpDmpInItsFolder) {
  WriteConfig("", m_serviceName);
  CopyIn(TEST_SERVICE_PATH, m_serviceName);
  ProcessId watchdog = StartWatchdog();
  WaitForFullPasses(1);
  ASSERT_EQ(std::system(("kill -SEGV " + std::to_string(watchdog)).c_str()), 0);
  WaitForExit(watchdog, 5000);
  std::string dump = ReadFile(m_folder / "tmp.dmp");
  EXPECT_EQ(dump.rfind("signal 11", 0), 0u) << dump;
}
}  // namespace
