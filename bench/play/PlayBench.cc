// The play path through the whole service, headless: pages' panes playing nimbrel-source's
// streams, measured from outside the service (receipt at its socket, presentation at the display)
// beside references from the same run: ffmpeg decoding the same stream on one thread, and what
// the source sent. Prints figures only; never fails on a time. Usage in README.md.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "FfmpegCpu.h"
#include "JsonFigures.h"
#include "Percentile.h"
#include "PlayTrial.h"
#include "ProcessFigures.h"
#include "SourceProcess.h"
#include "TrialResult.h"
#include "platform/net/Socket.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  double seconds = 30;           // every figure trial's window
  double capacitySeconds = 60;   // every capacity trial's window
  int runs = 3;                  // figure trials per stream; their median is reported
  int cycles = 1000;             // start/stop cycles of a pane for the memory figure
  int areaWidth = 1600, areaHeight = 900;
  int maxPanes = 64;
  bool search = true;
  std::string only;              // comma-separated parts to run; empty = all
  std::string jsonPath;
  bool Runs(const std::string& part) const {
    return only.empty() || ("," + only + ",").find("," + part + ",") != std::string::npos;
  }
};

struct Stream {
  const char* key;
  const char* name;
  const char* codec;
  const char* ffmpegFormat;
  int width, height, fps;
};

constexpr Stream kCif{"cif", "352x288 25 fps H.264 (CIF)", "h264", "h264", 352, 288, 25};
constexpr Stream kH264{"h264", "640x360 25 fps H.264", "h264", "h264", 640, 360, 25};
constexpr Stream kHd264{"hd_h264", "1920x1080 25 fps H.264", "h264", "h264", 1920, 1080, 25};
constexpr Stream kHd265{"hd_h265", "1920x1080 25 fps H.265", "h265", "hevc", 1920, 1080, 25};
constexpr double kLatencyTargetMs = 40;
constexpr double kCpuRatioTarget = 1.15;

// The median of one figure over several trials' results.
double Median(const std::vector<TrialResult>& results, const std::function<double(const TrialResult&)>& figure) {
  std::vector<double> values;
  for (const TrialResult& r : results) values.push_back(figure(r));
  return Percentile(values, 0.5);
}

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

  // One trial in a process of its own, so each has its own memory and CPU figures. `bgra` keeps
  // the service's pictures on the path that converts and scales them on the CPU.
  TrialResult Trial(const Stream& stream, int panes, double seconds, const std::string& extra, bool bgra = false) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    char area[32];
    std::snprintf(area, sizeof area, "%dx%d", m_options.areaWidth, m_options.areaHeight);
    // NIMBREL_TRIAL_PREFIX runs every trial under a tool (heaptrack, perf record ...).
    const char* prefix = std::getenv("NIMBREL_TRIAL_PREFIX");
    const std::string command = std::string(bgra ? "NIMBREL_VIDEO_YUV=0 " : "") + (prefix ? prefix : "") + " '" + self +
                                "' --trial --source-port " + std::to_string(m_source.Port()) +
                                " --codec " + stream.codec + " --size " + std::to_string(stream.width) + "x" +
                                std::to_string(stream.height) + " --fps " + std::to_string(stream.fps) +
                                " --panes " + std::to_string(panes) + " --seconds " + std::to_string(seconds) +
                                " --area " + area + extra + " 2>>'" + m_workDir + "/service.log'";
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
    // Both paths' figures of a stream share one reference.
    const std::string key = capture + "|" + filters;
    if (m_ffmpegMs.count(key)) return m_ffmpegMs[key];
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
    return m_ffmpegMs[key] = Percentile(perFrame, 0.5);
  }

  // `runs` trials of `panes` panes beside the ffmpeg references; medians into the figures
  // `<prefix>_<figure>` (`..._bgra` with `bgra`: pictures converted on the CPU, not by the display).
  // The first trial may also cycle a pane (`cycles`).
  void Figures(const Stream& stream, int panes, const std::string& prefix, int cycles, bool bgra = false) {
    const std::string capture = m_workDir + "/" + stream.key + ".loop";
    std::printf("\n== %d panes of %s, %s, %d trials of %.0f s (load average before: %s)\n", panes, stream.name,
                bgra ? "the CPU converts (NIMBREL_VIDEO_YUV=0)" : "the display takes YUV", m_options.runs,
                m_options.seconds, LoadAverage().c_str());
    std::printf("%4s %10s %8s %9s %8s %9s %8s %8s %9s %5s  %s\n", "run", "pane", "pres/s", "expected", "dropped",
                "cpu ms/f", "p50 ms", "p99 ms", "RSS MiB", "path", "held");
    const std::string suffix = bgra ? "_bgra" : "";
    auto key = [&](const char* figure) { return prefix + "_" + figure + suffix; };
    std::vector<TrialResult> results;
    for (int run = 0; run < m_options.runs; ++run) {
      std::string extra = run == 0 ? " --capture '" + capture + "'" : "";
      if (run == 0 && cycles > 0) extra += " --cycles " + std::to_string(cycles);
      const TrialResult r = Trial(stream, panes, m_options.seconds, extra, bgra);
      if (!r.Ok()) {
        std::printf("%4d the trial did not run: %s (see %s/service.log)\n", run + 1, r.Text("why").c_str(),
                    m_workDir.c_str());
        continue;
      }
      const std::string why = r.NotHeldBecause(stream.fps);
      std::printf("%4d %5.0fx%-4.0f %8.1f %9d %8.0f %9.3f %8.1f %8.1f %9.1f %5s  %s\n", run + 1,
                  r.Number("paneWidth"), r.Number("paneHeight"), r.Number("presentedPerSecond"), panes * stream.fps,
                  r.Number("dropped"), r.CpuPerFrameMs(), r.Number("p50"), r.Number("p99"), r.Number("rssKiB") / 1024,
                  r.Path().c_str(), why.empty() ? "yes" : why.c_str());
      std::fflush(stdout);
      if (run == 0 && r.Number("cycles") > 0) {
        const double growth = (r.Number("cyclesKiB") - r.Number("rssKiB")) / r.Number("rssKiB") * 100;
        std::printf("     after %.0f start/stop cycles of pane 0: %.1f MiB (%+.1f%%); heap in use %.1f -> %.1f MiB, "
                    "held %.1f -> %.1f MiB\n",
                    r.Number("cycles"), r.Number("cyclesKiB") / 1024, growth, r.Number("heapUseKiB") / 1024,
                    r.Number("cyclesHeapUseKiB") / 1024, r.Number("heapHeldKiB") / 1024,
                    r.Number("cyclesHeapHeldKiB") / 1024);
        m_json["rss_growth_pct_" + std::to_string(cycles) + "cycles"] = growth;
        m_json["rss_growth_pct_1000cycles"] = growth;
        m_json["rss_cycles_done"] = r.Number("cycles");
      }
      results.push_back(r);
    }
    if (results.empty()) return;
    const double cpuMs = Median(results, [](const TrialResult& r) { return r.CpuPerFrameMs(); });
    const double ffmpegMs = FfmpegMsPerFrame(stream, capture, "");
    // What the service does beyond decoding, done by ffmpeg as the service does it: scale to the
    // pane (fast bilinear), convert to BGRA.
    char scale[96];
    std::snprintf(scale, sizeof scale, "-vf scale=%.0f:%.0f:flags=fast_bilinear,format=bgra",
                  results[0].Number("paneWidth"), results[0].Number("paneHeight"));
    const double scaledMs = FfmpegMsPerFrame(stream, capture, scale);
    const double ratio = ffmpegMs > 0 ? cpuMs / ffmpegMs : 0;
    const double scaledRatio = scaledMs > 0 ? cpuMs / scaledMs : 0;
    const double p50 = Median(results, [](const TrialResult& r) { return r.Number("p50"); });
    const double p99 = Median(results, [](const TrialResult& r) { return r.Number("p99"); });
    const double rssMiB = Median(results, [](const TrialResult& r) { return r.Number("rssKiB"); }) / 1024;
    std::printf("median service CPU per presented frame %.3f ms; ffmpeg -threads 1 -f null %.3f ms: ratio %.2f\n",
                cpuMs, ffmpegMs, ratio);
    std::printf("  ffmpeg -threads 1 %s %.3f ms: ratio %.2f\n", scale, scaledMs, scaledRatio);
    std::printf("median latency receipt->presentation p50 %.1f ms, p99 %.1f ms; resident %.1f MiB (load: %s)\n", p50,
                p99, rssMiB, LoadAverage().c_str());
    std::fflush(stdout);
    m_json[key("cpu_ms_per_frame")] = cpuMs;
    m_json[key("ffmpeg_ms_per_frame")] = ffmpegMs;
    m_json[key("ffmpeg_scaled_ms_per_frame")] = scaledMs;
    m_json[key("cpu_ratio")] = ratio;
    m_json[key("cpu_ratio_vs_scaled")] = scaledRatio;
    m_json[key("latency_p50_ms")] = p50;
    m_json[key("latency_p99_ms")] = p99;
    m_json[key("rss_mb")] = rssMiB;
    m_json[key("start_rss_mb")] = Median(results, [](const TrialResult& r) { return r.Number("startKiB"); }) / 1024;
    m_json[key("harness_rss_mb")] = results[0].Number("baseKiB") / 1024;
  }

  // The largest pane count up to the maximum held for the whole window: doubling from a count
  // (or halving from it when it did not hold), then bisecting. Then beside it the number of such
  // streams ffmpeg alone decodes in real time on this machine's cores.
  void Capacity(const Stream& stream, int startPanes, const std::string& prefix) {
    const double seconds = m_options.capacitySeconds;
    std::printf("\n== the largest number of %s panes held for %.0f s (no drops, no growing delay), up to %d\n",
                stream.name, seconds, m_options.maxPanes);
    std::printf("%6s %7s %10s %8s %9s %8s %8s %8s %16s %9s  %s\n", "panes", "layout", "pane", "pres/s", "expected",
                "dropped", "p50 ms", "p99 ms", "p50 early/late", "cpu ms/f", "held");
    const std::string capture = m_workDir + "/" + stream.key + ".capacity.loop";
    int low = 0, high = m_options.maxPanes + 1;  // low holds, high does not
    for (int next = startPanes; high - low > 1;) {
      const TrialResult r = Trial(stream, next, seconds, low == 0 && high > m_options.maxPanes ? " --capture '" + capture + "'" : "");
      Row(stream, next, r);
      (r.NotHeldBecause(stream.fps).empty() ? low : high) = next;
      next = low == 0 ? std::max(1, high / 2) : high > m_options.maxPanes ? std::min(low * 2, m_options.maxPanes)
                                                                         : (low + high) / 2;
      if (next <= low) next = low + 1;
      if (next >= high) next = high - 1;
    }
    const double ffmpegMs = FfmpegMsPerFrame(stream, capture, "");
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const double realTime = ffmpegMs > 0 ? std::floor(cores * 1000.0 / (stream.fps * ffmpegMs)) : 0;
    // The search stops at the panes of one page; only CIF has a target, and it is that bound.
    std::printf("largest number held: %d (of at most %d); ffmpeg -threads 1 decodes %.3f ms/frame: %.0f such streams in "
                "real time on %u cores; ratio %.3f\n",
                low, m_options.maxPanes, ffmpegMs, realTime, cores, realTime > 0 ? low / realTime : 0);
    std::fflush(stdout);
    m_json[prefix + "_capacity_panes"] = low;
    m_json[prefix + "_ffmpeg_realtime_streams"] = realTime;
    m_json[prefix + "_capacity_ratio"] = realTime > 0 ? low / realTime : 0;
  }

  // The service's CPU with no page, then with one page whose group shows `panes` idle panes.
  void Idle(int panes) {
    std::printf("\n== idle: the service with no page, then one page with %d idle panes, %.0f s each\n", panes,
                m_options.seconds);
    std::vector<TrialResult> results;
    for (int run = 0; run < m_options.runs; ++run) {
      const TrialResult r = Trial(kCif, panes, m_options.seconds, " --idle 1");
      if (!r.Ok()) {
        std::printf("the trial did not run: %s\n", r.Text("why").c_str());
        continue;
      }
      std::printf("%4d no page %.3f%% of a core; %d idle panes %.3f%%; resident %.1f MiB / %.1f MiB\n", run + 1,
                  r.Number("noPageCpu") / r.Number("seconds") * 100, panes,
                  r.Number("idleCpu") / r.Number("seconds") * 100, r.Number("startKiB") / 1024,
                  r.Number("rssKiB") / 1024);
      results.push_back(r);
    }
    if (results.empty()) return;
    m_json["idle_cpu_pct_nopage"] =
        Median(results, [](const TrialResult& r) { return r.Number("noPageCpu") / r.Number("seconds") * 100; });
    m_json["idle_cpu_pct_64panes"] =
        Median(results, [](const TrialResult& r) { return r.Number("idleCpu") / r.Number("seconds") * 100; });
    m_json["rss_mb_0"] = Median(results, [](const TrialResult& r) { return r.Number("startKiB"); }) / 1024;
    m_json["rss_mb_64_idle_panes"] = Median(results, [](const TrialResult& r) { return r.Number("rssKiB"); }) / 1024;
    m_json["harness_rss_mb"] = results[0].Number("baseKiB") / 1024;
  }

  JsonFigures& Json() { return m_json; }

 private:
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
  JsonFigures m_json;
  std::map<std::string, double> m_ffmpegMs;  // by capture and filters
};

bool ParseSize(const char* text, int* width, int* height) { return std::sscanf(text, "%dx%d", width, height) == 2; }

int Usage() {
  std::fprintf(stderr,
               "usage: play_bench [--seconds S] [--capacity-seconds S] [--runs N] [--cycles N] [--area WxH]\n"
               "                  [--max-panes N] [--no-search] [--only PART,...] [--json PATH]\n"
               "parts: cif16 cif16_bgra h264_16 hd_h264 hd_h264_bgra hd_h265 cif64 idle capacity_cif capacity_hd\n"
               "(NIMBREL_VIDEO_YUV=0 in the environment puts every part on the BGRA path)\n");
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
    else if (key == "--idle") plan.idle = std::atoi(value) != 0;
    else if (key == "--cycles") plan.cycles = std::atoi(value);
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
    else if (key == "--capacity-seconds" && hasValue) options.capacitySeconds = std::atof(argv[++i]);
    else if (key == "--runs" && hasValue) options.runs = std::max(1, std::atoi(argv[++i]));
    else if (key == "--cycles" && hasValue) options.cycles = std::max(0, std::atoi(argv[++i]));
    else if (key == "--area" && hasValue) {
      if (!ParseSize(argv[++i], &options.areaWidth, &options.areaHeight)) return Usage();
    } else if (key == "--max-panes" && hasValue) options.maxPanes = std::max(1, std::min(64, std::atoi(argv[++i])));
    else if (key == "--no-search") options.search = false;
    else if (key == "--only" && hasValue) options.only = argv[++i];
    else if (key == "--json" && hasValue) options.jsonPath = argv[++i];
    else return Usage();
  }
  if (options.seconds <= 0 || options.capacitySeconds <= 0) return Usage();

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
  if (options.Runs("idle")) bench.Idle(64);
  if (options.Runs("cif16")) bench.Figures(kCif, 16, "cif16", options.cycles);
  if (options.Runs("cif16_bgra")) bench.Figures(kCif, 16, "cif16", 0, true);
  if (options.Runs("cif64")) bench.Figures(kCif, 64, "cif64", 0);
  if (options.Runs("h264_16")) bench.Figures(kH264, 16, "h264_16", 0);
  if (options.Runs("hd_h264")) bench.Figures(kHd264, 2, "hd2_h264", 0);
  if (options.Runs("hd_h264_bgra")) bench.Figures(kHd264, 2, "hd2_h264", 0, true);
  if (options.Runs("hd_h265")) bench.Figures(kHd265, 2, "hd2_h265", 0);
  if (options.search && options.Runs("capacity_cif")) bench.Capacity(kCif, options.maxPanes, "cif");
  if (options.search && options.Runs("capacity_hd")) bench.Capacity(kHd264, 4, "hd_h264");

  // The names the summary table and its readers know.
  JsonFigures& json = bench.Json();
  auto alias = [&json](const std::string& to, const std::string& from) {
    if (json.count(from)) json[to] = json[from];
  };
  alias("latency_p50_ms_16", "cif16_latency_p50_ms");
  alias("latency_p99_ms_16", "cif16_latency_p99_ms");
  alias("latency_p50_ms_64", "cif64_latency_p50_ms");
  alias("latency_p99_ms_64", "cif64_latency_p99_ms");
  alias("rss_mb_16", "cif16_rss_mb");
  alias("rss_mb_64", "cif64_rss_mb");
  json["cores"] = std::thread::hardware_concurrency();
  json["capacity_seconds"] = options.capacitySeconds;
  json["figure_seconds"] = options.seconds;
  std::printf("\n== against the targets (load average now: %s)\n", LoadAverage().c_str());
  auto verdict = [](bool met) { return met ? "met" : "missed"; };
  if (json.count("cif16_cpu_ratio"))
    std::printf("CIF 16 panes: CPU ratio %.2f (target <= %.2f): %s; p99 latency %.1f ms (target < %.0f ms): %s\n",
                json["cif16_cpu_ratio"], kCpuRatioTarget, verdict(json["cif16_cpu_ratio"] <= kCpuRatioTarget),
                json["cif16_latency_p99_ms"], kLatencyTargetMs, verdict(json["cif16_latency_p99_ms"] < kLatencyTargetMs));
  if (json.count("cif16_cpu_ratio_bgra"))
    std::printf("CIF 16 panes, the CPU converting: CPU ratio %.2f; p99 latency %.1f ms\n", json["cif16_cpu_ratio_bgra"],
                json["cif16_latency_p99_ms_bgra"]);
  if (json.count("cif_capacity_panes"))
    std::printf("CIF panes held: %.0f (target 64): %s\n", json["cif_capacity_panes"],
                verdict(json["cif_capacity_panes"] >= 64));
  if (json.count("idle_cpu_pct_64panes"))
    std::printf("idle with 64 panes: %.3f%% of a core (target < 0.5%%): %s\n", json["idle_cpu_pct_64panes"],
                verdict(json["idle_cpu_pct_64panes"] < 0.5));
  if (!options.jsonPath.empty() && !WriteJsonFigures(options.jsonPath, json)) {
    std::fprintf(stderr, "play_bench: cannot write %s\n", options.jsonPath.c_str());
    return 1;
  }
  return 0;
}
