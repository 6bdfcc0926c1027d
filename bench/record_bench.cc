// What recording costs while streams play: N streams of 640x360 25 fps H.264 with G.711 A-law
// audio (what nimbrel-source serves by default), decoded and rendered, measured without and then
// with a recording of each (fragmented MP4, the audio re-encoded as AAC; MPEG-TS likewise).
// Prints CPU per stream per second of video, and the share recording adds; never fails on time.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VXAVPlayer.h"
#include "platform/display/VideoOutput.h"
#include "tests/unit/vxavplayer/MediaFixtures.h"

namespace {

using vxtest::Unit;

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Windows that accept every picture, as a headless pane would.
class NullOutput : public platform::display::IVideoOutput {
 public:
  bool GetClientSize(platform::display::WindowId, int* w, int* h) override {
    *w = 320;
    *h = 180;
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
};

StreamDescription Frame(int kind, std::uint32_t time) {
  StreamDescription d{};
  d.videoCodec = VX_CODEC_H264;
  d.audioCodec = VX_CODEC_G711A;
  d.frameRate = 25;
  d.kind = static_cast<std::uint16_t>(kind);
  d.streamMode = VX_MODE_LIVE;
  d.frameTime = time;
  return d;
}

void Input(VX_HANDLE handle, const Unit& unit, const StreamDescription& d) {
  while (VX_InputData(handle, unit.data(), static_cast<std::int32_t>(unit.size()), &d, 0) == VX_ERR_BUFFER_FULL) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// CPU seconds for `count` streams of `seconds` of video each, fed as fast as they decode; each
// recorded into `dir` with extension `ext` unless `ext` is empty.
double Run(int count, int seconds, const std::vector<Unit>& video, const std::vector<Unit>& audio,
           const vxtest::TempDir& dir, const std::string& ext, bool withAudio = true) {
  std::vector<VX_HANDLE> handles(static_cast<size_t>(count), -1);
  for (int i = 0; i < count; ++i) {
    const StreamDescription open = Frame(0, 0);
    VX_OpenStream(&open, &handles[i], 0x100 + i, 0);
    VX_Play(handles[i], 0x100 + i, 0);
    if (!ext.empty()) {
      const std::string path = dir.Path("rec" + std::to_string(i) + "." + ext);
      VX_StartRecord(handles[i], path.c_str(), nullptr, 25);
    }
  }
  const double start = CpuSeconds();
  std::vector<std::thread> feeders;
  for (int i = 0; i < count; ++i) {
    feeders.emplace_back([&, i] {
      const int frames = seconds * 25;
      for (int f = 0; f < frames; ++f) {
        Input(handles[i], video[f % video.size()], Frame(0, f));
        if (!withAudio) continue;
        // 40 ms of audio per frame: two 20 ms blocks.
        Input(handles[i], audio[(2 * f) % audio.size()], Frame(1, f));
        Input(handles[i], audio[(2 * f + 1) % audio.size()], Frame(1, f));
      }
      std::int32_t decoded, buffered = 1, shown;
      while (VX_GetVideoBufferInfo(handles[i], &decoded, &buffered, &shown) == VX_OK && buffered > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  for (auto& t : feeders) t.join();
  for (VX_HANDLE h : handles) {
    VX_StopRecord(h);
    VX_CloseStream(h);
  }
  return CpuSeconds() - start;
}

}  // namespace

int main() {
  NullOutput output;
  platform::display::SetVideoOutput(&output);
  const vxtest::TempDir dir;
  const std::string videoPath = dir.Path("src.h264");
  const std::string audioPath = dir.Path("src.al");
  if (!vxtest::MakeVideo(videoPath, "testsrc2=s=640x360:r=25", 250, "-c:v libx264 -bf 0 -g 25") ||
      !vxtest::Run("ffmpeg -y -nostdin -v error -f lavfi -i sine=f=440:r=8000 -t 10 -f alaw \"" + audioPath + "\"")) {
    std::fprintf(stderr, "record_bench: ffmpeg could not make the test media\n");
    return 1;
  }
  const std::vector<Unit> video = vxtest::ReadUnits(videoPath);
  std::vector<Unit> audio;
  {
    Unit bytes;
    for (const auto& u : vxtest::ReadUnits(audioPath)) bytes.insert(bytes.end(), u.begin(), u.end());
    for (size_t i = 0; i + 160 <= bytes.size(); i += 160) audio.emplace_back(bytes.begin() + i, bytes.begin() + i + 160);
  }
  const int seconds = 10;
  std::printf("== Recording while playing: 640x360 25 fps H.264 + G.711 A-law, %d s per stream, %u cores\n", seconds,
              std::thread::hardware_concurrency());
  for (int count : {1, 4, 16}) {
    const double play = Run(count, seconds, video, audio, dir, "");
    const double mp4 = Run(count, seconds, video, audio, dir, "mp4");
    const double ts = Run(count, seconds, video, audio, dir, "ts");
    const double perStream = 1000.0 / (count * seconds);  // ms of CPU per stream per second of video
    std::printf("%2d streams: play %.1f ms, play+record mp4 %.1f ms (+%.1f%%), play+record ts %.1f ms (+%.1f%%) "
                "of CPU per stream per second\n",
                count, play * perStream, mp4 * perStream, 100.0 * (mp4 - play) / play, ts * perStream,
                100.0 * (ts - play) / play);
  }
  // Without audio the recording is a pure remux: what the AAC encoding costs shows by difference.
  const double play = Run(16, seconds, video, audio, dir, "", false);
  const double mp4 = Run(16, seconds, video, audio, dir, "mp4", false);
  std::printf("16 streams, video only: play %.1f ms, play+record mp4 %.1f ms (+%.1f%%) of CPU per stream per second\n",
              play * 1000.0 / (16 * seconds), mp4 * 1000.0 / (16 * seconds), 100.0 * (mp4 - play) / play);
  platform::display::SetVideoOutput(nullptr);
  return 0;
}
