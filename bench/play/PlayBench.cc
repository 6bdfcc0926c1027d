// The play path through the whole service, headless: pages' panes playing nimbrel-source's
// streams, measured from outside the service (receipt at its socket, presentation at the display)
// beside references from the same run: ffmpeg decoding the same stream on one thread, and what
// the source sent. Prints figures only; never fails on a time. Usage in README.md.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "FfmpegCpu.h"
#include "PlayTrial.h"
#include "ProcessFigures.h"
#include "SourceProcess.h"
#include "TrialResult.h"
#include "platform/net/Socket.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  double seconds = 30;
  int areaWidth = 1600, areaHeight = 900;
  int maxPanes = 64;
  bool search = true;
  bool h264 = true, h265 = true;
};

struct Stream {
  const char* name;
  const char* codec;
  const char* ffmpegFormat;
  int width, height, fps;
};

constexpr Stream kH264{"640x360 25 fps H.264", "h264", "h264", 640, 360, 25};
constexpr Stream kH265{"1920x1080 25 fps H.265", "h265", "hevc", 1920, 1080, 25};
constexpr double kLatencyTargetMs = 40;
constexpr double kCpuRatioTarget = 1.25;

// nimbrel-source for every trial, started again when it has gone. The machine is shared, and
// others' clean-ups may end processes by name: it runs as a copy named after this benchmark.
class Source {
 public:
  explicit Source(const std::string& workDir) {
    const char* other = std::getenv("NIMBREL_SOURCE_BIN");
    m_binary = workDir + "/bench-source";
    fs::copy_file(other ? other : std::string(NIMBREL_RUN_DIR) + "/nimbrel-source", m_binary);
  }
  // The port of a running source, or 0 when it cannot start.
  int Port() {
    if (m_process && Answers(m_process->Port())) return m_process->Port();
    if (m_process) std::printf("(nimbrel-source had gone; started again)\n");
    m_process = std::make_unique<SourceProcess>();
    return m_process->Start(m_binary, NIMBREL_SOURCE_DIR, "") ? m_process->Port() : 0;
  }

 private:
  static bool Answers(int port) {
    std::string error;
    auto addresses = platform::net::Resolve("127.0.0.1", port, &error);
    if (addresses.empty()) return false;
    platform::net::SocketHandle s = platform::net::ConnectTo(addresses[0], 2000);
    platform::net::CloseSocket(s);
    return s != platform::net::kInvalidSocket;
  }

  std::string m_binary;
  std::unique_ptr<SourceProcess> m_process;
};

class Bench {
 public:
  Bench(const Options& options, Source& source, std::string workDir)
      : m_options(options), m_source(source), m_workDir(std::move(workDir)) {}

  // One trial in a process of its own, so each has its own memory and CPU figures.
  TrialResult Trial(const Stream& stream, int panes, const std::string& capture) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    char area[32];
    std::snprintf(area, sizeof area, "%dx%d", m_options.areaWidth, m_options.areaHeight);
    const std::string command = "'" + self + "' --trial --source-port " + std::to_string(m_source.Port()) +
                                " --codec " + stream.codec + " --size " + std::to_string(stream.width) + "x" +
                                std::to_string(stream.height) + " --fps " + std::to_string(stream.fps) +
                                " --panes " + std::to_string(panes) + " --seconds " +
                                std::to_string(m_options.seconds) + " --area " + area +
                                (capture.empty() ? "" : " --capture '" + capture + "'") + " 2>>'" + m_workDir +
                                "/service.log'";
    TrialResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      if (std::strncmp(line, "RESULT ", 7) == 0) result = TrialResult::Parse(line + 7);
    }
    pclose(pipe);
    return result;
  }

  // ffmpeg's CPU per frame on the captured loop, repeated, with `filters` (or none) before its
  // null output: the difference between a long and a short run, so its start-up does not count;
  // the median of three.
  double FfmpegMsPerFrame(const Stream& stream, const std::string& capture, const std::string& filters) {
    std::ifstream in(capture, std::ios::binary);
    const std::string loop((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (loop.empty()) return -1;
    const int pixels = stream.width * stream.height;
    const int longLoops = std::max(8, std::min(20, 20 * 640 * 360 / pixels)), shortLoops = 2;
    auto write = [&](const std::string& path, int loops) {
      std::ofstream out(path, std::ios::binary);
      for (int i = 0; i < loops; ++i) out << loop;
    };
    const std::string longFile = capture + ".long", shortFile = capture + ".short";
    write(longFile, longLoops);
    write(shortFile, shortLoops);
    std::vector<double> perFrame;
    for (int run = 0; run < 3; ++run) {
      const std::string args = std::string("-threads 1 -f ") + stream.ffmpegFormat + " -i '";
      const std::string output = "' " + filters + " -f null -";
      const double a = FfmpegCpuSeconds(args + longFile + output);
      const double b = FfmpegCpuSeconds(args + shortFile + output);
      if (a < 0 || b < 0) return -1;
      perFrame.push_back((a - b) / ((longLoops - shortLoops) * 2 * stream.fps) * 1e3);
    }
    fs::remove(longFile);
    fs::remove(shortFile);
    std::sort(perFrame.begin(), perFrame.end());
    return perFrame[1];
  }

  // The full set of figures for `panes` panes, beside their references.
  TrialResult Figures(const Stream& stream, int panes) {
    const std::string capture = m_workDir + "/" + stream.codec + ".loop";
    std::printf("\n== %d panes of %s for %.0f s (load average before: %s)\n", panes, stream.name, m_options.seconds,
                LoadAverage().c_str());
    std::fflush(stdout);
    const TrialResult r = Trial(stream, panes, capture);
    if (!r.Ok()) {
      std::printf("the trial did not run: %s (see %s/service.log)\n", r.Text("why").c_str(), m_workDir.c_str());
      return r;
    }
    const double ffmpegMs = FfmpegMsPerFrame(stream, capture, "");
    const double ratio = ffmpegMs > 0 ? r.CpuPerFrameMs() / ffmpegMs : 0;
    // What the service does beyond decoding, done by ffmpeg: scale to the pane, convert to BGRA.
    char scale[96];
    std::snprintf(scale, sizeof scale, "-vf scale=%.0f:%.0f:flags=bilinear,format=bgra", r.Number("paneWidth"),
                  r.Number("paneHeight"));
    const double scaledMs = FfmpegMsPerFrame(stream, capture, scale);
    std::printf("layout %d, panes %.0fx%.0f in a %dx%d page area; %.1f s until every pane showed pictures\n",
                static_cast<int>(r.Number("layout")), r.Number("paneWidth"), r.Number("paneHeight"),
                m_options.areaWidth, m_options.areaHeight, r.Number("startSeconds"));
    std::printf("%-38s %-16s %s\n", "figure", "measured", "reference (same run)");
    std::printf("%-38s %-16.1f %.1f received from the source (%d panes x %d fps = %d)\n", "frames presented per second",
                r.Number("presentedPerSecond"), r.Number("received") / r.Number("seconds"), panes, stream.fps,
                panes * stream.fps);
    std::printf("%-38s %-16.0f 0 of %.0f received (service queue drops: %.0f, unreadable pictures: %.0f)\n",
                "frames dropped", r.Number("dropped"), r.Number("received"), r.Number("queueDrops"),
                r.Number("unmatched"));
    std::printf("%-38s %-16s ffmpeg -threads 1 -f null: %.3f ms/frame; ratio %.2f (target <= %.2f)\n",
                "service CPU per presented frame", (Fixed(r.CpuPerFrameMs(), 3) + " ms").c_str(), ffmpegMs, ratio,
                kCpuRatioTarget);
    std::printf("%-38s %-16s ffmpeg -threads 1 %s: %.3f ms/frame; ratio %.2f\n", "", "", scale, scaledMs,
                scaledMs > 0 ? r.CpuPerFrameMs() / scaledMs : 0);
    std::printf("%-38s %-16s %.0f%% of one core (harness threads, excluded: %.2f s)\n", "service CPU",
                (Fixed(r.Number("serviceCpu"), 2) + " s").c_str(), r.Number("serviceCpu") / r.Number("seconds") * 100,
                r.Number("harnessCpu"));
    std::printf("%-38s %-16s target < %.0f ms for p99 (one frame interval)\n", "latency receipt->presentation p50",
                (Fixed(r.Number("p50"), 1) + " ms").c_str(), kLatencyTargetMs);
    std::printf("%-38s %-16s max %.1f ms; p50 first/last fifth of the window %.1f / %.1f ms\n",
                "latency receipt->presentation p99", (Fixed(r.Number("p99"), 1) + " ms").c_str(), r.Number("max"),
                r.Number("earlyP50"), r.Number("lateP50"));
    std::printf("%-38s %-16s the harness alone before the service started: %.1f MiB\n", "resident memory",
                (Fixed(r.Number("rssKiB") / 1024, 1) + " MiB").c_str(), r.Number("baseKiB") / 1024);
    const std::string why = r.NotHeldBecause(stream.fps);
    std::printf("held: %s; resource guard warnings: %.0f; load average after: %s\n", why.empty() ? "yes" : why.c_str(),
                r.Number("resourceWarnings"), LoadAverage().c_str());
    std::fflush(stdout);
    m_lastRatio = ratio;
    return r;
  }

  // The largest pane count up to the maximum held for the whole window: doubling from a count
  // known to hold (or halving from one that did not), then bisecting.
  int Largest(const Stream& stream, int startPanes, const TrialResult& start) {
    std::printf("\n== the largest number of %s panes held for %.0f s (no drops, no growing delay), up to %d\n",
                stream.name, m_options.seconds, m_options.maxPanes);
    std::printf("%6s %7s %10s %8s %9s %8s %8s %8s %16s %9s  %s\n", "panes", "layout", "pane", "pres/s", "expected",
                "dropped", "p50 ms", "p99 ms", "p50 early/late", "cpu ms/f", "held");
    Row(stream, startPanes, start);
    int low = 0, high = m_options.maxPanes + 1;  // low holds, high does not
    (start.NotHeldBecause(stream.fps).empty() ? low : high) = startPanes;
    while (high - low > 1) {
      int next = low == 0 ? std::max(1, high / 2) : high > m_options.maxPanes ? std::min(low * 4, m_options.maxPanes)
                                                                              : (low + high) / 2;
      if (next <= low) next = low + 1;
      if (next >= high) next = high - 1;
      const TrialResult r = Trial(stream, next, "");
      Row(stream, next, r);
      (r.NotHeldBecause(stream.fps).empty() ? low : high) = next;
    }
    std::printf("largest number held: %d (target %d)\n", low, m_options.maxPanes);
    return low;
  }

  double LastRatio() const { return m_lastRatio; }

 private:
  static std::string Fixed(double value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
  }

  void Row(const Stream& stream, int panes, const TrialResult& r) {
    const std::string why = r.NotHeldBecause(stream.fps);
    char pane[16], growth[24];
    std::snprintf(pane, sizeof pane, "%.0fx%.0f", r.Number("paneWidth"), r.Number("paneHeight"));
    std::snprintf(growth, sizeof growth, "%.1f/%.1f", r.Number("earlyP50"), r.Number("lateP50"));
    std::printf("%6d %7.0f %10s %8.1f %9d %8.0f %8.1f %8.1f %16s %9.3f  %s\n", panes, r.Number("layout"), pane,
                r.Number("presentedPerSecond"), panes * stream.fps, r.Number("dropped"), r.Number("p50"),
                r.Number("p99"), growth, r.CpuPerFrameMs(), why.empty() ? "yes" : ("no: " + why).c_str());
    std::fflush(stdout);
  }

  const Options m_options;
  Source& m_source;
  const std::string m_workDir;
  double m_lastRatio = 0;
};

bool ParseSize(const char* text, int* width, int* height) { return std::sscanf(text, "%dx%d", width, height) == 2; }

int Usage() {
  std::fprintf(stderr,
               "usage: play_bench [--seconds S] [--area WxH] [--max-panes N] [--no-search] [--only h264|h265]\n");
  return 2;
}

int TrialMain(int argc, char** argv) {
  TrialPlan plan;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--source-port") plan.sourcePort = std::atoi(value);
    else if (key == "--codec") plan.codec = value;
    else if (key == "--size") ParseSize(value, &plan.width, &plan.height);
    else if (key == "--fps") plan.fps = std::atoi(value);
    else if (key == "--panes") plan.panes = std::atoi(value);
    else if (key == "--seconds") plan.seconds = std::atof(value);
    else if (key == "--area") ParseSize(value, &plan.areaWidth, &plan.areaHeight);
    else if (key == "--capture") plan.capturePath = value;
  }
  return RunTrial(plan);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--trial") return TrialMain(argc, argv);
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string key = argv[i];
    const bool hasValue = i + 1 < argc;
    if (key == "--seconds" && hasValue) options.seconds = std::atof(argv[++i]);
    else if (key == "--area" && hasValue) {
      if (!ParseSize(argv[++i], &options.areaWidth, &options.areaHeight)) return Usage();
    } else if (key == "--max-panes" && hasValue) options.maxPanes = std::max(1, std::min(64, std::atoi(argv[++i])));
    else if (key == "--no-search") options.search = false;
    else if (key == "--only" && hasValue) {
      const std::string only = argv[++i];
      options.h264 = only == "h264";
      options.h265 = only == "h265";
    } else return Usage();
  }
  if (options.seconds <= 0) return Usage();

  const fs::path work = fs::temp_directory_path() / ("play_bench_" + std::to_string(std::random_device{}()));
  fs::create_directories(work);
  Source source(work.string());
  if (source.Port() == 0) {
    std::fprintf(stderr, "play_bench: nimbrel-source did not start\n");
    return 1;
  }
  std::printf("play_bench: the whole service in-process on its headless display; %u cores; load average %s\n",
              std::thread::hardware_concurrency(), LoadAverage().c_str());
  std::printf("service log: %s/service.log\n", work.string().c_str());
  Bench bench(options, source, work.string());
  double ratio264 = 0, ratio265 = 0, p99264 = 0, p99265 = 0;
  int held264 = -1, held265 = -1;
  if (options.h264) {
    const TrialResult r = bench.Figures(kH264, 16);
    ratio264 = bench.LastRatio();
    p99264 = r.Number("p99");
    if (options.search && r.Ok()) held264 = bench.Largest(kH264, 16, r);
  }
  if (options.h265) {
    const TrialResult r = bench.Figures(kH265, 2);
    ratio265 = bench.LastRatio();
    p99265 = r.Number("p99");
    if (options.search && r.Ok()) held265 = bench.Largest(kH265, 2, r);
  }
  std::printf("\n== against the targets (load average now: %s)\n", LoadAverage().c_str());
  auto verdict = [](bool met) { return met ? "met" : "missed"; };
  if (options.h264) {
    std::printf("H.264 16 panes: CPU ratio %.2f (target <= %.2f): %s; p99 latency %.1f ms (target < %.0f ms): %s\n",
                ratio264, kCpuRatioTarget, verdict(ratio264 > 0 && ratio264 <= kCpuRatioTarget), p99264,
                kLatencyTargetMs, verdict(p99264 > 0 && p99264 < kLatencyTargetMs));
    if (held264 >= 0) std::printf("H.264 panes held: %d (target 64): %s\n", held264, verdict(held264 >= 64));
  }
  if (options.h265) {
    std::printf("H.265 2 panes: CPU ratio %.2f (target <= %.2f): %s; p99 latency %.1f ms (target < %.0f ms): %s\n",
                ratio265, kCpuRatioTarget, verdict(ratio265 > 0 && ratio265 <= kCpuRatioTarget), p99265,
                kLatencyTargetMs, verdict(p99265 > 0 && p99265 < kLatencyTargetMs));
    if (held265 >= 0) std::printf("H.265 1080p panes held: %d\n", held265);
  }
  return 0;
}
