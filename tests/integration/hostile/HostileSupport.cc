#include "HostileSupport.h"

#include <chrono>
#include <fstream>
#include <sstream>

namespace {
// A page the service closes must fail the test, not end it with SIGPIPE on the next write.
const bool kSocketsReady = platform::net::NetStartup();
}  // namespace

std::unique_ptr<WsClient> OpenPage(int port, bool tls, platform::net::Family family, int timeoutMs) {
  (void)kSocketsReady;
  auto page = std::make_unique<WsClient>();
  if (!page->Connect(family, port, tls, timeoutMs) || !page->Upgrade()) return nullptr;
  return page;
}

double RoundTripMs(WsClient& page, const std::string& sequence) {
  auto start = std::chrono::steady_clock::now();
  if (!page.SendText(WebConnect(sequence))) return -1;
  std::optional<std::string> reply = page.ReadText();
  // Notices (the resource guard's, when the machine is busy) may come first.
  while (reply && JsonString(*reply, "cmd") == "notice") reply = page.ReadText();
  if (!reply || JsonString(*reply, "sequence") != sequence) return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

bool Answers(int port, bool tls, platform::net::Family family) {
  std::unique_ptr<WsClient> page = OpenPage(port, tls, family);
  return page && RoundTripMs(*page) >= 0;
}

long StatusKb(int pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

double CpuSeconds(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold blanks: state is field 3,
  // utime and stime are fields 14 and 15.
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n == 14) utime = std::stol(field);
    if (n == 15) stime = std::stol(field);
  }
  static const double ticksPerSecond = std::stod(RunCommand("getconf CLK_TCK"));
  return static_cast<double>(utime + stime) / ticksPerSecond;
}
