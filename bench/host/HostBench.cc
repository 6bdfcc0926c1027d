// Host figures: webconnect round trip and commands per second over 1 and 16 connections, beside
// a minimal WebSocket echo on the same loopback sockets; the service's CPU while idle.
// Prints figures only; never fails on a time.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdlib>
#include <string>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "EchoServer.h"
#include "JsonFigures.h"
#include "Percentile.h"
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

// Commands per second once every connection is open and upgraded (opening one is not a command).
double CommandsPerSecond(int port, int connections, int perConnection) {
  std::vector<std::thread> threads;
  std::mutex mutex;
  std::condition_variable cv;
  int ready = 0;
  bool go = false;
  Clock::time_point start;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&] {
      WsClient page;
      const bool open = page.Connect(Family::kIPv4, port, false) && page.Upgrade();
      {
        std::unique_lock<std::mutex> lock(mutex);
        ++ready;
        cv.notify_all();
        cv.wait(lock, [&] { return go; });
      }
      for (int i = 0; open && i < perConnection; ++i) {
        page.SendText(WebConnect(std::to_string(i)));
        if (!page.ReadText()) return;
      }
    });
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return ready == connections; });
    go = true;
    start = Clock::now();
  }
  cv.notify_all();
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

int main(int argc, char** argv) {
  int runs = 3;
  int idleSeconds = 10;
  std::string jsonPath;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    else if (key == "--idle-seconds") idleSeconds = std::max(1, std::atoi(argv[i + 1]));
    else if (key == "--json") jsonPath = argv[i + 1];
  }
  ServiceProcess service;
  if (!service.Start()) {
    std::printf("service did not start\n");
    return 1;
  }
  EchoServer echo;
  const int trips = 2000;
  // Rounds alternate service and echo, so both see the same load; medians of the rounds.
  std::vector<double> svcP50, svcP99, refP50, refP99, svcRate[2], refRate[2];
  const int connectionCounts[2] = {1, 16};
  for (int run = 0; run < runs; ++run) {
    Figures svc = RoundTrips(service.Port(), trips);
    Figures ref = RoundTrips(echo.Port(), trips);
    svcP50.push_back(svc.p50Us);
    svcP99.push_back(svc.p99Us);
    refP50.push_back(ref.p50Us);
    refP99.push_back(ref.p99Us);
    for (int k = 0; k < 2; ++k) {
      const int per = 4000 / connectionCounts[k];
      svcRate[k].push_back(CommandsPerSecond(service.Port(), connectionCounts[k], per));
      refRate[k].push_back(CommandsPerSecond(echo.Port(), connectionCounts[k], per));
    }
  }
  JsonFigures json;
  json["rtt_p50_us"] = Percentile(svcP50, 0.5);
  json["rtt_p99_us"] = Percentile(svcP99, 0.5);
  json["echo_rtt_p50_us"] = Percentile(refP50, 0.5);
  json["echo_rtt_p99_us"] = Percentile(refP99, 0.5);
  std::printf("webconnect round trip over %d commands, median of %d rounds (microseconds)\n", trips, runs);
  std::printf("  service   p50 %8.1f  p99 %8.1f\n", json["rtt_p50_us"], json["rtt_p99_us"]);
  std::printf("  echo      p50 %8.1f  p99 %8.1f\n", json["echo_rtt_p50_us"], json["echo_rtt_p99_us"]);
  for (int k = 0; k < 2; ++k) {
    const double s = Percentile(svcRate[k], 0.5), e = Percentile(refRate[k], 0.5);
    std::printf("commands per second over %2d connection(s): service %9.0f  echo %9.0f  (%.0f%%)\n",
                connectionCounts[k], s, e, 100.0 * s / e);
    const std::string suffix = k == 0 ? "_1conn" : "";  // the plain name is the 16-connection throughput
    json["commands_per_s" + suffix] = s;
    json["echo_commands_per_s" + suffix] = e;
  }
  long ticksPerSecond = std::max(1L, std::atol(RunCommand("getconf CLK_TCK").c_str()));
  long before = CpuTicks(service.Pid());
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));  // the measuring window itself
  long after = CpuTicks(service.Pid());
  const double idlePct = 100.0 * (after - before) / ticksPerSecond / idleSeconds;
  std::printf("nimbrelsvc CPU while idle with no page for %d s: %ld ticks = %.3f%% of one core\n", idleSeconds,
              after - before, idlePct);
  json["idle_cpu_pct_nopage_process"] = idlePct;
  if (!jsonPath.empty() && !WriteJsonFigures(jsonPath, json)) return 1;
  return 0;
}
