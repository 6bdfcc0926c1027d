#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "platform/system/CrashHandler.h"
#include "platform/system/Process.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using namespace platform::system;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string NameFromLibrary(std::time_t t, bool local) {
  std::tm parts{};
  if (local)
    localtime_r(&t, &parts);
  else
    gmtime_r(&t, &parts);
  return CrashDumpName(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                       parts.tm_sec);
}

// The handler turns seconds into a date by hand; the C library is the reference.
TEST(CrashDumpName, HandMadeCalendarAgreesWithTheLibrary) {
  std::vector<std::int64_t> times = {0,          59,         86399,       86400,        68169600,
                                     951782400,  951868799,  951868800,   978307199,    1740906303,
                                     4107542399, 4107542400, 253402300799, -1,          -86401};
  for (std::int64_t t = 0; t < 7258118400; t += 1480000 + 3727) times.push_back(t);
  for (std::int64_t t : times) ASSERT_EQ(CrashDumpNameAt(t), NameFromLibrary(t, false)) << t;
  EXPECT_EQ(CrashDumpNameAt(1740906303), "tmp2025_03_02__09_05_03.dmp");
}

// A fatal signal that lands while the process is inside the C library's time, heap and
// formatting code (holding their locks) still leaves its dump, named after the time it
// arrived, and the process ends by that signal.
TEST(CrashHandler, DumpIsWrittenWhenTheSignalInterruptsLockedLibraryCode) {
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    TempFolder folder;
    StartOptions options;
    options.workingDirectory = folder.Path().string();
    options.outputFile = folder.File("out.txt");
    auto pid = StartProcess(CRASH_CHILD_PATH, options);
    ASSERT_TRUE(pid);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadFile(folder.File("out.txt")).find("ready") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::time_t before = std::time(nullptr);
    ASSERT_EQ(std::system(("kill -SEGV " + std::to_string(*pid)).c_str()), 0);
    auto code = WaitForExit(*pid, 20000);
    std::time_t after = std::time(nullptr);
    if (!code) KillProcess(*pid), WaitForExit(*pid, 5000);
    ASSERT_EQ(code, 128 + 11) << "the handler hung or the process did not end by its signal";

    std::set<std::string> names;
    // time() reads a coarse clock that may lag the handler's by a tick.
    for (std::time_t t = before; t <= after + 1; ++t) names.insert(NameFromLibrary(t, true));
    std::vector<std::string> dumps;
    for (const auto& entry : fs::directory_iterator(folder.Path()))
      if (entry.path().extension() == ".dmp") dumps.push_back(entry.path().filename().string());
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(names.count(dumps[0]), 1u) << dumps[0];
    std::string text = ReadFile(folder.Path() / dumps[0]);
    EXPECT_EQ(text.rfind("signal 11 (Segmentation fault)\naddress 0x", 0), 0u) << text;
    EXPECT_NE(text.find("\nbacktrace:\n"), std::string::npos) << text;
    EXPECT_NE(text.find("crash_test_child"), std::string::npos) << "frames name the program:\n" << text;
  }
}

}  // namespace
