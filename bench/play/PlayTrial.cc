#include "PlayTrial.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "FrameLedger.h"
#include "PageClient.h"
#include "PresentTap.h"
#include "ProcessFigures.h"
#include "ServiceProcess.h"
#include "StreamRelay.h"
#include "common/DebugLog.h"
#include "platform/display/headless/HeadlessDisplay.h"
#include "platform/system/CrashHandler.h"
#include "platform/system/Heap.h"
#include "service/host/ServiceWiring.h"
#include "service/windows/CPlayWnd.h"
#include "service/windows/WindowSystem.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kWarmUp = 3s;                // after every pane shows pictures
constexpr auto kSettle = 1s;                // frames of the window's end still on their way
constexpr auto kFirstFrames = 60s;          // the source encodes its loop on first use
constexpr auto kFirstPictures = 120s;
constexpr auto kShutdownGrace = 20s;
constexpr auto kCycleRun = 30ms;            // a cycled pane plays this long before it stops again        // then the process ends without a clean shutdown

// A run directory as the service expects it in its working directory.
std::string MakeRunDir() {
  const fs::path dir = fs::temp_directory_path() / ("play_bench_run_" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  fs::copy(fs::path(NIMBREL_RUN_DIR) / "certificates", dir / "certificates", fs::copy_options::recursive);
  std::ofstream(dir / "config.ini") << "[Port]\nServicePortStart=" << FreePortRange(2) << "\n\n[Info]\nVersion=bench\n";
  return dir.string();
}

int ServicePort() {
  std::ifstream config("config.ini");
  std::string line;
  while (std::getline(config, line)) {
    if (line.rfind("ServicePortStart=", 0) == 0) return std::atoi(line.c_str() + 17);
  }
  return 0;
}

// The session's pane windows 0..panes-1 (one page, one group).
std::map<platform::display::WindowId, int> PaneWindows(ServiceWiring& service, int panes) {
  std::map<platform::display::WindowId, int> windows;
  SessionTable& table = service.Server().Sessions();
  std::lock_guard<std::mutex> lock(table.m_sessionsMutex);
  for (auto& entry : table.m_sessions) {
    if (!entry.second || !entry.second->m_pWnd) continue;
    for (int i = 0; i < panes; ++i) windows[entry.second->m_pWnd->Pane(i)] = i;
  }
  return windows;
}

// startMultiPlay's data for panes first..first+count-1.
std::string MultiPlayData(const TrialPlan& plan, int relayPort, int first, int count) {
  const std::string url = "ws://127.0.0.1:" + std::to_string(relayPort) + "/live?codec=" + plan.codec +
                          "&width=" + std::to_string(plan.width) + "&height=" + std::to_string(plan.height) +
                          "&fps=" + std::to_string(plan.fps);
  const int coder = plan.codec == "h265" ? 150 : plan.codec == "mjpeg" ? 26 : 96;
  std::string items;
  for (int pane = first; pane < first + count; ++pane) {
    if (!items.empty()) items += ",";
    items += R"({"wndIndex":)" + std::to_string(pane) + R"(,"playParam":{"videoCoder":)" + std::to_string(coder) +
             R"(,"audioCoder":0,"frameRate":)" + std::to_string(plan.fps) + R"(,"bitRate":0,"width":)" +
             std::to_string(plan.width) + R"(,"height":)" + std::to_string(plan.height) +
             R"(},"requestJson":{"action":"play","data":{"channel":)" + std::to_string(pane + 1) +
             R"(,"sessionID":"bench"}}})";
  }
  return R"({"url":")" + url + R"(","param":[)" + items + "]}";
}

// The process's CPU seconds over [now, until) less the harness's threads (the caller and `others`),
// with `wait` passing the time; also the harness's share.
struct CpuWindow {
  double service = 0, harness = 0;
};
template <typename Wait>
CpuWindow MeasureCpu(std::chrono::steady_clock::time_point until, const std::vector<int>& others, Wait wait) {
  std::vector<int> threads = others;
  threads.push_back(CurrentThreadId());
  auto harness = [&] {
    double sum = 0;
    for (int tid : threads) sum += ThreadCpuSeconds(tid);
    return sum;
  };
  const double harness0 = harness(), cpu0 = ProcessCpuSeconds();
  wait(until);
  const double cpu1 = ProcessCpuSeconds(), harness1 = harness();
  return {(cpu1 - cpu0) - (harness1 - harness0), harness1 - harness0};
}

}  // namespace

int LayoutFor(int panes) {
  int columns = 1;
  while (columns * columns < panes) ++columns;
  return columns * columns;
}

int RunTrial(const TrialPlan& plan) {
  platform::system::LimitHeapArenas();  // as the entry does
  platform::system::IgnoreBrokenPipe();
  const std::string dir = MakeRunDir();
  fs::current_path(dir);
  const long baseKiB = ResidentKiB();

  // The service's log goes to standard error; lines that tell of lost frames are counted too.
  std::atomic<int> queueDrops{0}, resourceWarnings{0};
  SetDebugLogSink([&](const std::string& line) {
    if (line.find("throw packet") != std::string::npos) ++queueDrops;
    if (line.find("Insufficient resource") != std::string::npos) ++resourceWarnings;
    std::fprintf(stderr, "[Nimbrel] %s\n", line.c_str());
  });

  // The service as its entry assembles it; without DISPLAY the window system is the headless one.
  unsetenv("DISPLAY");
  auto display = OpenWindowSystem();
  auto* headless = dynamic_cast<platform::display::HeadlessDisplay*>(display.get());
  if (headless == nullptr) {
    std::fprintf(stderr, "play_bench: the headless display did not open\n");
    return 1;
  }
  const int loop = 2 * plan.fps;
  FrameLedger ledger(plan.panes, loop);
  PresentTap tap(*headless, ledger, loop);
  platform::display::SetVideoOutput(&tap);
  auto service = std::make_unique<ServiceWiring>(std::move(display));
  std::thread server([&service] { service->Server().Run(); });

  StreamRelay relay(plan.sourcePort, [&ledger](int pane, BenchClock::time_point at) { ledger.Received(pane, at); },
                    loop);
  const auto window = std::chrono::duration_cast<BenchClock::duration>(std::chrono::duration<double>(plan.seconds));
  auto sleepUntil = [](BenchClock::time_point until) { std::this_thread::sleep_until(until); };
  PageClient page;
  bool ready = relay.Start();
  // The service with no page at all: what it costs a machine where no page is open.
  CpuWindow noPage;
  if (ready && plan.idle) {
    std::this_thread::sleep_for(kSettle);
    noPage = MeasureCpu(BenchClock::now() + window, {relay.ThreadId()}, sleepUntil);
  }
  const long startKiB = ResidentKiB();
  ready = ready && page.Open(ServicePort(), 10s);
  std::string failure = ready ? "" : "no relay or no service";
  const int layout = LayoutFor(plan.panes);
  if (ready) {
    const std::string uuid = JsonString(page.Command("webconnect", R"({"webVersion":"1.0"})"), "uuid");
    // The browser window the page names after its session: the group attaches to it.
    headless->CreateForeignWindow("Nimbrel bench " + uuid + " - Chromium", "chromium",
                                  platform::display::MakeRect(0, 0, plan.areaWidth, plan.areaHeight));
    const std::string rect = R"({"rect":{"left":0,"top":0,"width":)" + std::to_string(plan.areaWidth) +
                             R"(,"height":)" + std::to_string(plan.areaHeight) +
                             R"(,"bodyHeight":)" + std::to_string(plan.areaHeight) + "}}";
    ready = !uuid.empty() && JsonInt(page.Command("createWnd", rect), "errorCode", -1) == 0 &&
            JsonInt(page.Command("arrangeWnd", R"({"arrangeType":)" + std::to_string(layout) + "}"), "errorCode",
                    -1) == 0;
    if (!ready) failure = "the window group was not made";
  }
  auto drainUntil = [&page](BenchClock::time_point until) { page.DrainUntil(until); };
  if (ready && plan.idle) {
    page.DrainUntil(BenchClock::now() + kSettle);
    const CpuWindow idle = MeasureCpu(BenchClock::now() + window, {relay.ThreadId()}, drainUntil);
    std::printf("RESULT ok=1 idle=1 panes=%d layout=%d seconds=%.2f noPageCpu=%.3f idleCpu=%.3f harnessCpu=%.3f "
                "startKiB=%ld rssKiB=%ld baseKiB=%ld\n",
                plan.panes, layout, plan.seconds, noPage.service, idle.service, noPage.harness + idle.harness,
                startKiB, ResidentKiB(), baseKiB);
    ready = false;
    failure = "";
  }
  if (ready) {
    tap.SetPanes(PaneWindows(*service, plan.panes));
    ready = JsonInt(page.Command("startMultiPlay", MultiPlayData(plan, relay.Port(), 0, plan.panes)), "errorCode",
                    -1) == 0;
    if (!ready) failure = "startMultiPlay failed";
  }
  const auto started = BenchClock::now();
  while (ready && ledger.Counts().presenting < plan.panes) {
    const auto waited = BenchClock::now() - started;
    const FrameLedger::PaneCounts counts = ledger.Counts();
    if (waited > kFirstPictures || (waited > kFirstFrames && counts.receiving == 0)) {
      ready = false;
      failure = "only " + std::to_string(counts.presenting) + " panes showed pictures (" +
                std::to_string(counts.receiving) + " received frames, " +
                std::to_string(tap.OtherPresentations()) + " pictures went elsewhere)";
    }
    page.DrainUntil(BenchClock::now() + 100ms);
  }
  const double startSeconds = std::chrono::duration<double>(BenchClock::now() - started).count();

  if (ready) {
    page.DrainUntil(BenchClock::now() + kWarmUp);
    // The window: the process's CPU less this harness's own threads (this one and the relay's).
    const auto from = BenchClock::now();
    const auto to = from + window;
    const CpuWindow cpu = MeasureCpu(to, {relay.ThreadId()}, drainUntil);
    const long rssKiB = ResidentKiB();
    const platform::system::HeapFigures heap = platform::system::ReadHeapFigures();
    const std::size_t backlog = relay.Backlog();
    page.DrainUntil(BenchClock::now() + kSettle);
    const LatencyFigures f = ledger.Figures(from, to);
    ledger.StopRecording();
    int paneWidth = 0, paneHeight = 0;
    for (auto& [window, pane] : PaneWindows(*service, 1)) headless->GetClientSize(window, &paneWidth, &paneHeight);
    if (!plan.capturePath.empty()) std::ofstream(plan.capturePath, std::ios::binary) << relay.Capture();
    // Pane 0 stopped and started again: resident memory must not grow with channels come and gone.
    long cyclesDone = 0;
    for (; cyclesDone < plan.cycles; ++cyclesDone) {
      const std::string stop = page.Command("stopPlayBack", R"({"wndIndex":0,"requestJson":{"action":"stop"}})");
      const std::string start = page.Command("startMultiPlay", MultiPlayData(plan, relay.Port(), 0, 1));
      if (JsonInt(stop, "errorCode", -1) != 0 || JsonInt(start, "errorCode", -1) != 0) {
        std::fprintf(stderr, "play_bench: cycle %ld failed: %s / %s\n", cyclesDone, stop.c_str(), start.c_str());
        break;
      }
      page.DrainUntil(BenchClock::now() + kCycleRun);
    }
    if (plan.cycles > 0) page.DrainUntil(BenchClock::now() + kSettle);
    const long cyclesKiB = plan.cycles > 0 ? ResidentKiB() : 0;
    const platform::system::HeapFigures cyclesHeap = platform::system::ReadHeapFigures();
    std::printf(
        "RESULT ok=1 panes=%d layout=%d paneWidth=%d paneHeight=%d seconds=%.2f startSeconds=%.1f received=%ld "
        "presented=%ld dropped=%ld unmatched=%ld presentedPerSecond=%.2f serviceCpu=%.3f harnessCpu=%.3f "
        "p50=%.2f p99=%.2f max=%.2f earlyP50=%.2f lateP50=%.2f rssKiB=%ld baseKiB=%ld startKiB=%ld queueDrops=%d "
        "resourceWarnings=%d backlogBytes=%zu cycles=%ld cyclesKiB=%ld heapUseKiB=%llu heapHeldKiB=%llu "
        "cyclesHeapUseKiB=%llu cyclesHeapHeldKiB=%llu yuvPresents=%ld bgraPresents=%ld\n",
        plan.panes, layout, paneWidth, paneHeight, plan.seconds, startSeconds, f.received, f.presented, f.dropped,
        f.unmatched, f.presentedPerSecond, cpu.service, cpu.harness, f.p50Ms, f.p99Ms, f.maxMs, f.firstFifthP50Ms,
        f.lastFifthP50Ms, rssKiB, baseKiB, startKiB, queueDrops.load(), resourceWarnings.load(), backlog, cyclesDone,
        cyclesKiB, heap.inUse / 1024, heap.held / 1024, cyclesHeap.inUse / 1024, cyclesHeap.held / 1024,
        tap.YuvPresentations(), tap.BgraPresentations());
  } else if (!failure.empty()) {
    for (char& c : failure) c = c == ' ' ? '_' : c;  // one word in the result line
    std::printf("RESULT ok=0 panes=%d why=%s\n", plan.panes, failure.c_str());
  }
  std::fflush(stdout);

  // A shutdown that hangs must not hold the benchmark: the figures are out already.
  std::thread([] {
    std::this_thread::sleep_for(kShutdownGrace);
    std::fprintf(stderr, "play_bench: the trial's shutdown took too long\n");
    std::_Exit(2);
  }).detach();
  page.Close();
  service->Server().Stop();
  server.join();
  relay.Stop();
  service.reset();
  platform::display::SetVideoOutput(nullptr);
  SetDebugLogSink(nullptr);
  std::error_code ec;
  fs::current_path(fs::temp_directory_path(), ec);
  fs::remove_all(dir, ec);
  return ready || plan.idle ? 0 : 1;
}
