#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/system/Process.h"

namespace fs = std::filesystem;
using namespace platform::system;

namespace {

bool Listed(ProcessId pid, const std::string& name) {
  auto list = ListProcesses();
  if (!list) return false;
  for (const auto& e : *list)
    if (e.pid == pid) return e.name == name;
  return false;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ProcessTest, KilledChildLeavesTheListBeforeItIsReaped) {
  EXPECT_TRUE(Listed(CurrentProcessId(), "process_test"));
  StartOptions o;
  o.searchPath = true;
  o.arguments = {"1000"};
  auto pid = StartProcess("sleep", o);
  ASSERT_TRUE(pid);
  EXPECT_TRUE(Listed(*pid, "sleep"));
  ASSERT_TRUE(KillProcess(*pid));
  // Until reaped the child is a zombie, which no longer counts as running.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Listed(*pid, "sleep") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_FALSE(Listed(*pid, "sleep"));
  EXPECT_TRUE(fs::exists("/proc/" + std::to_string(*pid)));
  EXPECT_EQ(WaitForExit(*pid, 20000), 128 + 9);
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(*pid)));
}

TEST(ProcessTest, ListingWhileProcessesComeAndGo) {
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    StartOptions o;
    o.searchPath = true;
    while (!stop) {
      for (int i = 0; i < 8; ++i) StartProcess("true", o);
      ReapStartedProcesses();
    }
  });
  for (int i = 0; i < 150; ++i) ASSERT_TRUE(Listed(CurrentProcessId(), "process_test"));
  stop = true;
  churn.join();
}

TEST(ProcessTest, StartsInTheGivenFolderWithTheAddedEnvironmentAndNothingElseOpen) {
  fs::path dir = fs::path(NIMBREL_BINARY_DIR) / "process-test-cwd";
  fs::create_directories(dir);
  fs::path out = dir / "out.txt";
  fs::remove(out);
  StartOptions o;
  o.searchPath = true;
  o.arguments = {"-c", "pwd; echo \"$NIMBREL_A|$HOME\"; ls /proc/$$/fd"};
  o.outputFile = out.string();
  o.workingDirectory = dir.string();
  o.extraEnvironment = {"NIMBREL_A=one", "HOME=/elsewhere"};
  // A descriptor open here without close-on-exec must still not reach the child.
  std::FILE* open = std::fopen((dir / "held.txt").c_str(), "w");
  ASSERT_TRUE(open);
  auto pid = StartProcess("sh", o);
  std::fclose(open);
  ASSERT_TRUE(pid);
  EXPECT_EQ(WaitForExit(*pid, 20000), 0);
  EXPECT_EQ(ReadFile(out), fs::canonical(dir).string() + "\none|/elsewhere\n0\n1\n2\n");

  EXPECT_FALSE(StartProcess("", {}));
  EXPECT_FALSE(StartProcess("./no-such-program-here", {}));
  EXPECT_FALSE(StartProcess("sh", {})) << "without the path search a bare name is a file here";
}

}  // namespace
