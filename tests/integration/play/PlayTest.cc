// nimbrel-play against a real nimbrel-source: what it plays, records and snapshots, and how it
// ends when the source refuses or is not there.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"
#include "tests/integration/stream/SourceProcess.h"
#include "tests/unit/vxavplayer/MediaFixtures.h"

using namespace vxtest;
namespace net = platform::net;

namespace {

// The nimbrel-source to run: NIMBREL_SOURCE_BIN when set (another build), else the run folder's.
std::string SourceBinary() {
  const char* other = std::getenv("NIMBREL_SOURCE_BIN");
  return other ? other : std::string(NIMBREL_RUN_DIR) + "/nimbrel-source";
}

// A nimbrel-source of its own for one test; stopped with the object.
class Source {
 public:
  Source() { m_started = m_process.Start(SourceBinary(), NIMBREL_SOURCE_DIR, ""); }
  bool Started() const { return m_started; }
  std::string Url(const std::string& query) const {
    return "'ws://127.0.0.1:" + std::to_string(m_process.Port()) + "/live?" + query + "'";
  }
  bool WaitEvent(const std::vector<std::string>& parts) { return m_process.WaitEvent(parts); }

 private:
  SourceProcess m_process;
  bool m_started = false;
};

struct RunResult {
  int exitCode = -1;
  std::string output;
};

// A private X server for one test; empty Display() when Xvfb is missing.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    if (!Run("command -v Xvfb && command -v xdpyinfo")) return;
    for (int n = 100 + static_cast<int>(std::random_device{}() % 400), tries = 0; tries < 50; ++n, ++tries) {
      if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
          std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
        continue;
      }
      m_display = ":" + std::to_string(n);
      std::system(("Xvfb " + m_display + " -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 & echo $! > " +
                   m_pidFile.Path("pid")).c_str());
      for (int wait = 0; wait < 100; ++wait) {  // until the server answers
        if (Run("xdpyinfo -display " + m_display)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      m_display.clear();
      return;
    }
  }
  ~VirtualDisplay() {
    if (!m_display.empty()) Run("kill $(cat " + m_pidFile.Path("pid") + ")");
  }
  const std::string& Display() const { return m_display; }
  // The colour at (x, y) of the screen, read with ffmpeg's screen grabber.
  Pixel At(int x, int y) const {
    const std::string rgb = Capture("ffmpeg -nostdin -v error -f x11grab -video_size 1x1 -i " + m_display + "+" +
                                    std::to_string(x) + "," + std::to_string(y) +
                                    " -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
    if (rgb.size() < 3) return Pixel{-1, -1, -1};
    return Pixel{static_cast<unsigned char>(rgb[2]), static_cast<unsigned char>(rgb[1]),
                 static_cast<unsigned char>(rgb[0])};
  }

 private:
  TempDir m_pidFile;
  std::string m_display;
};

RunResult Play(const std::string& args, const std::string& environment = "") {
  RunResult result;
  const std::string command = environment + " " + NIMBREL_RUN_DIR + "/nimbrel-play " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

long Stat(const std::string& output, const std::string& name) {
  std::smatch match;
  if (!std::regex_search(output, match, std::regex(name + " ([0-9]+)"))) return -1;
  return std::stol(match[1]);
}

// 176x144 H.264 at 25 fps with G.711 A-law; `frames` ends the stream after that many pictures.
const char kCamera[] = "codec=h264&width=176&height=144&fps=25&audio=g711a";

TEST(NimbrelPlayTest, PlaysRecordsAndSnapshotsAWholeStream) {
  Source source;
  ASSERT_TRUE(source.Started()) << "nimbrel-source did not start";
  TempDir dir;
  const std::string record = dir.Path("rec.mkv");
  const std::string snapshot = dir.Path("shot.png");
  const auto run = Play(source.Url(std::string(kCamera) + "&frames=50") + " --headless --request '{\"x\":1}'" +
                        " --record " + record + " --snapshot " + snapshot);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(source.WaitEvent({"\"request\"", "{\\\"x\\\":1}"}));
  EXPECT_TRUE(std::regex_search(run.output, std::regex("received [0-9]+ decoded [0-9]+ presented [0-9]+ dropped [0-9]+ "
                                                       "fps [0-9.]+ cpu [0-9.]+ latency-p50 [0-9.]+ latency-p99 [0-9.]+")))
      << run.output;
  EXPECT_EQ(Stat(run.output, "received"), 50);
  EXPECT_EQ(Stat(run.output, "decoded"), 50);
  // A live stream whose decoding fell behind shows only its newest picture: on a loaded machine
  // some pictures are decoded and recorded but never shown.
  const long presented = Stat(run.output, "presented");
  EXPECT_GT(presented, 25);
  EXPECT_LE(presented, 50);
  EXPECT_EQ(Stat(run.output, "dropped"), 50 - presented);

  const ProbeResult video = Probe(record, "v");
  EXPECT_EQ(video.codec, "h264");
  EXPECT_EQ(video.frames, 50);
  EXPECT_EQ(Probe(record, "a").codec, "aac");
  const ProbeResult picture = Probe(snapshot, "v");
  EXPECT_EQ(picture.codec, "png");
  EXPECT_EQ(picture.width, 176);
  EXPECT_EQ(picture.height, 144);
  // The source's red block sits in the top-left corner of every picture.
  const std::string rgb = Capture("ffmpeg -nostdin -v error -i " + snapshot +
                                  " -vf crop=1:1:10:10 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
  ASSERT_EQ(rgb.size(), 3u);
  EXPECT_TRUE(Near(Pixel{static_cast<unsigned char>(rgb[2]), static_cast<unsigned char>(rgb[1]),
                         static_cast<unsigned char>(rgb[0])},
                   255, 0, 0));
}

TEST(NimbrelPlayTest, StopsAfterTheFramesAsked) {
  Source source;
  ASSERT_TRUE(source.Started()) << "nimbrel-source did not start";
  const auto run = Play(source.Url(kCamera) + " --headless --frames 20");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(Stat(run.output, "received"), 20);
}

TEST(NimbrelPlayTest, RefusedOrUnreachableSourcesEndWithAnError) {
  {
    Source source;
    ASSERT_TRUE(source.Started()) << "nimbrel-source did not start";
    const auto run = Play(source.Url("code=4003") + " --headless");
    EXPECT_EQ(run.exitCode, 3) << run.output;
    EXPECT_NE(run.output.find("4003"), std::string::npos);
  }
  // A port nobody listens on: take one from the system and close it again.
  net::NetStartup();
  const auto s = net::CreateTcpSocket(net::Family::kIPv4);
  ASSERT_TRUE(net::BindLoopback(s, net::Family::kIPv4, 0));
  const int port = net::LocalPort(s);
  net::CloseSocket(s);
  EXPECT_EQ(Play("ws://127.0.0.1:" + std::to_string(port) + "/live --headless").exitCode, 2);
  EXPECT_EQ(Play("http://127.0.0.1:1/ --headless").exitCode, 2);
  EXPECT_EQ(Play("--headless").exitCode, 1);
}

}  // namespace

namespace {

TEST(NimbrelPlayX11Test, ShowsTheCameraInAnX11Window) {
  VirtualDisplay display;
  if (display.Display().empty()) GTEST_SKIP() << "no Xvfb here";
  auto source = std::make_unique<Source>();
  ASSERT_TRUE(source->Started()) << "nimbrel-source did not start";
  RunResult run;
  // The URL is taken here: the source is reset below while the player may not have started yet.
  const std::string url = source->Url(kCamera);
  std::thread player([&] { run = Play(url, "DISPLAY=" + display.Display()); });
  // The window sits at the screen's origin; wait until the source's red block shows there.
  Pixel seen{-1, -1, -1};
  for (int attempt = 0; attempt < 200 && !Near(seen, 255, 0, 0); ++attempt) seen = display.At(10, 10);
  // A source that goes away ends the run; what was played still counts.
  source.reset();
  player.join();
  EXPECT_TRUE(Near(seen, 255, 0, 0)) << seen.r << "," << seen.g << "," << seen.b;
  EXPECT_EQ(run.exitCode, 0) << run.output;
}

}  // namespace
