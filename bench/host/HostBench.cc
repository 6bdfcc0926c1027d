// Host figures: webconnect round trip and commands per second over 1 and 16 connections, beside
// a minimal WebSocket echo on the same loopback sockets; the service's CPU while idle.
// Prints figures only; never fails on a time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "EchoServer.h"
#include "ServiceProcess.h"
#include "WsClient.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::net::Family;

struct Figures {
  double p50Us = 0, p99Us = 0;
};

Figures RoundTrips(int port, int count) {
  WsClient page;
  std::vector<double> us;
  if (!page.Connect(Family::kIPv4, port, false) || !page.Upgrade()) return {};
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    page.SendText(WebConnect(std::to_string(i)));
    if (!page.ReadText()) return {};
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

double CommandsPerSecond(int port, int connections, int perConnection) {
  std::vector<std::thread> threads;
  auto start = Clock::now();
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([=] {
      WsClient page;
      if (!page.Connect(Family::kIPv4, port, false) || !page.Upgrade()) return;
      for (int i = 0; i < perConnection; ++i) {
        page.SendText(WebConnect(std::to_string(i)));
        if (!page.ReadText()) return;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return connections * perConnection / seconds;
}

// User plus system clock ticks the process has used.
long CpuTicks(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

}  // namespace

int main() {
  ServiceProcess service;
  if (!service.Start()) {
    std::printf("service did not start\n");
    return 1;
  }
  EchoServer echo;
  const int trips = 2000;
  Figures svc = RoundTrips(service.Port(), trips);
  Figures ref = RoundTrips(echo.Port(), trips);
  std::printf("webconnect round trip over %d commands (microseconds)\n", trips);
  std::printf("  service   p50 %8.1f  p99 %8.1f\n", svc.p50Us, svc.p99Us);
  std::printf("  echo      p50 %8.1f  p99 %8.1f\n", ref.p50Us, ref.p99Us);
  for (int connections : {1, 16}) {
    int per = 4000 / connections;
    double s = CommandsPerSecond(service.Port(), connections, per);
    double e = CommandsPerSecond(echo.Port(), connections, per);
    std::printf("commands per second over %2d connection(s): service %9.0f  echo %9.0f  (%.0f%%)\n", connections, s,
                e, 100.0 * s / e);
  }
  const int idleSeconds = 10;
  long ticksPerSecond = std::max(1L, std::atol(RunCommand("getconf CLK_TCK").c_str()));
  long before = CpuTicks(service.Pid());
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));  // the measuring window itself
  long after = CpuTicks(service.Pid());
  std::printf("service CPU while idle for %d s: %ld ticks = %.3f%% of one core\n", idleSeconds, after - before,
              100.0 * (after - before) / ticksPerSecond / idleSeconds);
  return 0;
}
