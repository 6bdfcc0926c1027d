// AV library figures: CPU per decoded frame against the ffmpeg tool on the same stream, how many
// live CIF 25 fps streams one machine keeps up with, and latency from feeding to presentation.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FfmpegCpu.h"
#include "Percentile.h"
#include "VXAVPlayer.h"
#include "platform/display/VideoOutput.h"
#include "tests/unit/vxavplayer/MediaFixtures.h"

namespace {

using Clock = std::chrono::steady_clock;
using vxtest::ReadUnits;
using vxtest::Unit;

// This process's CPU time, all threads.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Windows of fixed sizes that accept every picture; latency is taken in the draw callback.
class NullOutput : public platform::display::IVideoOutput {
 public:
  void Add(platform::display::WindowId id, int w, int h) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sizes[id] = {w, h};
  }
  bool GetClientSize(platform::display::WindowId id, int* w, int* h) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sizes.find(id);
    if (it == m_sizes.end()) return false;
    *w = it->second.first;
    *h = it->second.second;
    return true;
  }
  bool Present(platform::display::WindowId, const platform::display::VideoFrameView&,
               const std::function<void(void*)>& overlay) override {
    if (overlay) overlay(nullptr);
    return true;
  }
  // Takes YUV as the headless display does (NIMBREL_VIDEO_YUV=0 measures the BGRA path).
  platform::display::PresentResult PresentYuv(platform::display::WindowId, const platform::display::YuvFrameView&,
                                              const std::function<void(void*)>& overlay) override {
    if (overlay) overlay(nullptr);
    return platform::display::PresentResult::Shown;
  }

 private:
  std::mutex m_mutex;
  std::map<platform::display::WindowId, std::pair<int, int>> m_sizes;
};

NullOutput g_output;

// One live stream fed by the bench; counts and latencies come from the library's callbacks.
struct Stream {
  VX_HANDLE handle = -1;
  std::vector<Clock::time_point> fedAt;
  std::atomic<std::uint32_t> current{0};
  std::atomic<int> presented{0};
  std::atomic<int> busy{0};
  std::mutex mutex;
  std::vector<double> latencies;

  bool Open(int codec, VX_WINDOW window, int frames) {
    StreamDescription d{};
    d.videoCodec = static_cast<std::uint16_t>(codec);
    d.frameRate = 25;
    d.streamMode = VX_MODE_LIVE;
    if (VX_OpenStream(&d, &handle, window, 0) != VX_OK) return false;
    if (window != 0 && VX_Play(handle, window, 0) != VX_OK) return false;
    fedAt.assign(static_cast<size_t>(frames), Clock::time_point{});
    VX_SetDecodeCallBack(
        handle,
        [](VX_HANDLE, const std::uint8_t*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const std::uint32_t* info,
           void* user) { static_cast<Stream*>(user)->current = info[2]; },
        this);
    VX_SetDrawCallBack(
        handle,
        [](std::int32_t, void*, void* user) {
          auto* self = static_cast<Stream*>(user);
          const auto now = Clock::now();
          ++self->presented;
          std::lock_guard<std::mutex> lock(self->mutex);
          self->latencies.push_back(std::chrono::duration<double, std::milli>(now - self->fedAt[self->current]).count());
        },
        this);
    return true;
  }
  // Live feeding: a frame that meets a full buffer is retried until it fits, and counted.
  void Feed(const Unit& unit, int codec, std::uint32_t index) {
    StreamDescription d{};
    d.videoCodec = static_cast<std::uint16_t>(codec);
    d.frameRate = 25;
    d.frameTime = index;
    fedAt[index] = Clock::now();
    while (VX_InputData(handle, unit.data(), static_cast<std::int32_t>(unit.size()), &d, 0) == VX_ERR_BUFFER_FULL) {
      ++busy;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void WaitDrained() {
    std::int32_t decoded, buffered = 1, shown;
    while (VX_GetVideoBufferInfo(handle, &decoded, &buffered, &shown) == VX_OK && buffered > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
};

struct Media {
  const char* name;
  int codec;
  std::string path;
  std::vector<Unit> units;
};

bool Make(const std::string& path, const char* size, int frames, const char* codecArgs) {
  return vxtest::MakeVideo(path, std::string("testsrc2=s=") + size + ":r=25", frames, std::string(codecArgs) + " -g 50");
}

void CpuPerFrame(Media& media, int width, int height) {
  // The ffmpeg tool on the same file, single-threaded, output thrown away.
  const double total = FfmpegCpuSeconds("-threads 1 -i \"" + media.path + "\" -f null -");
  if (total < 0) {
    std::printf("%-10s ffmpeg failed\n", media.name);
    return;
  }
  const double ffmpeg = total / media.units.size();

  // The library: decode only, then decode + scale to BGRA + present at the picture's size.
  double library[2] = {0, 0};
  for (int render = 0; render < 2; ++render) {
    const VX_WINDOW window = render ? 0x100 : 0;
    g_output.Add(0x100, width, height);
    Stream stream;
    if (!stream.Open(media.codec, window, static_cast<int>(media.units.size()))) return;
    const double start = CpuSeconds();
    for (size_t i = 0; i < media.units.size(); ++i) stream.Feed(media.units[i], media.codec, static_cast<std::uint32_t>(i));
    stream.WaitDrained();
    library[render] = (CpuSeconds() - start) / media.units.size();
    VX_CloseStream(stream.handle);
  }
  std::printf("%-10s cpu/frame: library decode %.2f ms, decode+render %.2f ms, ffmpeg -threads 1 %.2f ms; "
              "ratio decode %.2f, decode+render %.2f\n",
              media.name, library[0] * 1e3, library[1] * 1e3, ffmpeg * 1e3, library[0] / ffmpeg, library[1] / ffmpeg);
}

struct TrialResult {
  bool keptUp = false;
  double p50 = 0, p99 = 0;
};

// `count` live CIF streams at 25 fps for `frames` frames each, fed on time from one thread each.
TrialResult Concurrent(const Media& media, int count, int frames) {
  std::vector<std::unique_ptr<Stream>> streams;
  for (int i = 0; i < count; ++i) {
    g_output.Add(0x1000 + i, 352, 288);
    streams.push_back(std::make_unique<Stream>());
    streams.back()->Open(media.codec, 0x1000 + i, frames);
  }
  std::vector<std::thread> feeders;
  const auto start = Clock::now() + std::chrono::milliseconds(50);
  for (int i = 0; i < count; ++i) {
    feeders.emplace_back([&, i] {
      // Spread the streams over the frame interval, as independent cameras would be.
      const auto offset = std::chrono::microseconds(40000LL * i / count);
      for (int f = 0; f < frames; ++f) {
        std::this_thread::sleep_until(start + offset + std::chrono::milliseconds(40) * f);
        streams[i]->Feed(media.units[f % media.units.size()], media.codec, static_cast<std::uint32_t>(f));
      }
    });
  }
  for (auto& t : feeders) t.join();
  std::vector<double> all;
  TrialResult result;
  result.keptUp = true;
  for (auto& s : streams) {
    s->WaitDrained();
    // A decoder may hold a picture back; anything beyond that, or a full buffer, is falling behind.
    if (s->busy > 0 || s->presented < frames - 2) result.keptUp = false;
    std::lock_guard<std::mutex> lock(s->mutex);
    all.insert(all.end(), s->latencies.begin(), s->latencies.end());
  }
  for (auto& s : streams) VX_CloseStream(s->handle);
  result.p50 = Percentile(all, 0.5);
  result.p99 = Percentile(all, 0.99);
  // Live viewing stops being live when pictures queue up for several frame times.
  if (result.p99 > 200) result.keptUp = false;
  return result;
}

}  // namespace

int main() {
  platform::display::SetVideoOutput(&g_output);
  const vxtest::TempDir dir;
  Media media[] = {
      {"h264 1080p", VX_CODEC_H264, dir.Path("hd.h264"), {}},
      {"h265 1080p", VX_CODEC_H265, dir.Path("hd.hevc"), {}},
      {"h264 CIF", VX_CODEC_H264, dir.Path("cif.h264"), {}},
      {"h265 CIF", VX_CODEC_H265, dir.Path("cif.hevc"), {}},
  };
  const bool made = Make(media[0].path, "1920x1080", 100, "-c:v libx264 -preset veryfast -bf 0") &&
                    Make(media[1].path, "1920x1080", 100,
                         "-c:v libx265 -preset veryfast -x265-params log-level=error:bframes=0") &&
                    Make(media[2].path, "352x288", 500, "-c:v libx264 -bf 0") &&
                    Make(media[3].path, "352x288", 500, "-c:v libx265 -x265-params log-level=error:bframes=0");
  if (!made) {
    std::fprintf(stderr, "vxavplayer_bench: ffmpeg could not make the test streams\n");
    return 1;
  }
  for (auto& m : media) m.units = ReadUnits(m.path);

  std::printf("== CPU per decoded frame (same file, same run)\n");
  CpuPerFrame(media[0], 1920, 1080);
  CpuPerFrame(media[1], 1920, 1080);
  CpuPerFrame(media[2], 352, 288);
  CpuPerFrame(media[3], 352, 288);

  std::printf("== Concurrent live CIF 25 fps H.264 streams (100 frames each), %u cores\n",
              std::thread::hardware_concurrency());
  int best = 0;
  TrialResult single;
  for (int count = 1; count <= 256; count *= 2) {
    const TrialResult r = Concurrent(media[2], count, 100);
    if (count == 1) single = r;
    std::printf("%3d streams: %s, latency p50 %.1f ms p99 %.1f ms\n", count, r.keptUp ? "kept up" : "fell behind",
                r.p50, r.p99);
    if (!r.keptUp) {
      // Narrow down between the last count that kept up and this one.
      int low = count / 2, high = count;
      while (high - low > 1 && low > 0) {
        const int mid = (low + high) / 2;
        const TrialResult m = Concurrent(media[2], mid, 100);
        std::printf("%3d streams: %s, latency p50 %.1f ms p99 %.1f ms\n", mid, m.keptUp ? "kept up" : "fell behind",
                    m.p50, m.p99);
        (m.keptUp ? low : high) = mid;
      }
      best = low;
      break;
    }
    best = count;
  }
  std::printf("largest number of concurrent CIF 25 fps streams without dropping: %d\n", best);
  std::printf("latency feed-to-present, one live CIF stream: p50 %.2f ms p99 %.2f ms\n", single.p50, single.p99);
  platform::display::SetVideoOutput(nullptr);
  return 0;
}
