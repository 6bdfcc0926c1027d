#include "ProcessFigures.h"

#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// The kernel reports thread times in USER_HZ ticks, 100 per second on Linux.
constexpr double kTicksPerSecond = 100.0;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

long StatusKiB(const std::string& key) {
  std::istringstream lines(ReadAll("/proc/self/status"));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return 0;
}

}  // namespace

double ProcessCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

int CurrentThreadId() {
  std::istringstream stat(ReadAll("/proc/thread-self/stat"));
  int tid = 0;
  stat >> tid;
  return tid;
}

double ThreadCpuSeconds(int tid) {
  const std::string text = ReadAll("/proc/self/task/" + std::to_string(tid) + "/stat");
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  // Fields after the command name start at field 3 (state); utime and stime are fields 14, 15.
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; fields >> field && i <= 15; ++i) {
    if (i >= 14) ticks += std::stod(field);
  }
  return ticks / kTicksPerSecond;
}

long ResidentKiB() { return StatusKiB("VmRSS"); }
long PeakResidentKiB() { return StatusKiB("VmHWM"); }

std::string LoadAverage() {
  std::istringstream fields(ReadAll("/proc/loadavg"));
  std::string a, b, c;
  fields >> a >> b >> c;
  return a + " " + b + " " + c;
}
