#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/system/MessageBox.h"
#include "platform/system/Process.h"
#include "tests/support/TempFolder.h"

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

// A program is known by its file, whatever name or link it was reached by, and keeps its path
// when the file is replaced while it runs.
TEST(ProcessTest, OwnProcessesAreFoundByTheirProgramsPath) {
  TempFolder folder;
  const fs::path program = folder.Path() / "prog";
  fs::copy_file("/bin/sleep", program);
  fs::create_symlink(program, folder.Path() / "link");
  StartOptions o;
  o.arguments = {"1000"};
  auto pid = StartProcess(program.string(), o);
  ASSERT_TRUE(pid);
  auto found = [&](const fs::path& path) {
    auto pids = OwnProcessesOfProgram(path.string());
    return pids && std::find(pids->begin(), pids->end(), *pid) != pids->end();
  };
  EXPECT_TRUE(found(program));
  EXPECT_TRUE(found(folder.Path() / "link"));
  EXPECT_TRUE(found(folder.Path() / "." / "prog"));
  EXPECT_FALSE(found("/bin/sleep"));
  EXPECT_FALSE(found(folder.Path() / "Prog"));
  fs::remove(program);
  fs::copy_file("/bin/true", program);
  EXPECT_TRUE(found(program)) << "replaced on disk, still the same program's process";
  KillProcess(*pid);
  EXPECT_EQ(WaitForExit(*pid, 20000), 128 + 9);
  EXPECT_FALSE(found(program));
}

// Children of this process named `name`, zombies included: what is left until it is collected.
int ChildrenNamed(const std::string& name) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    if (!std::getline(in, stat)) continue;
    size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    int parent = 0;
    rest >> state >> parent;
    if (parent == CurrentProcessId() && stat.substr(open + 1, close - open - 1) == name) ++count;
  }
  return count;
}

// The box is shown without waiting for the user, its text as plain text, and its process is
// collected once the user closes it.
TEST(ProcessTest, WarningBoxIsCollectedWhenClosed) {
  TempFolder bin;
  const std::string args = bin.File("args");
  std::ofstream(bin.File("zenity")) << "#!/bin/sh\nPATH=/usr/bin:/bin\nprintf '%s\\n' \"$@\" > '" << args << ".tmp'\nmv '" << args
                                    << ".tmp' '" << args << "'\n";
  fs::permissions(bin.File("zenity"), fs::perms::owner_all);
  const char* path = std::getenv("PATH");
  const char* display = std::getenv("DISPLAY");
  const std::string oldPath = path ? path : "";
  const std::string oldDisplay = display ? display : "";
  setenv("PATH", bin.Path().c_str(), 1);
  setenv("DISPLAY", ":97", 1);
  ShowWarningBox("Tips", "<b>All</b> ports taken");
  setenv("PATH", oldPath.c_str(), 1);
  if (display) setenv("DISPLAY", oldDisplay.c_str(), 1); else unsetenv("DISPLAY");

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((!fs::exists(args) || ChildrenNamed("zenity") > 0) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(ReadFile(args), "--warning\n--no-markup\n--title=Tips\n--text=<b>All</b> ports taken\n");
  EXPECT_EQ(ChildrenNamed("zenity"), 0) << "left as a zombie";
}

}  // namespace
