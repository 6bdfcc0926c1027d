// nimbrel-play against a small stream source run by the test: what it plays, records and
// snapshots, and how it ends when the source refuses or is not there.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"
#include "tests/unit/vxavplayer/MediaFixtures.h"

using namespace vxtest;
namespace net = platform::net;

namespace {

std::string Header(bool video, int codec, std::uint32_t rate, int width, int height, std::uint32_t time) {
  std::string h(36, '\0');
  auto be = [&](int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<char>(v >> (24 - 8 * i));
  };
  h[4] = video ? 1 : 0;
  be(12, time);
  for (int i = 0; i < 4; ++i) h[16 + i] = static_cast<char>(rate >> (8 * i));
  be(20, static_cast<std::uint32_t>(width));
  be(24, static_cast<std::uint32_t>(height));
  h[28] = static_cast<char>(codec);
  return h;
}

// Serves one connection at a time: upgrade, read the request text, then either refuse with
// `refuseCode` or send code 0, the messages, and the end-of-data code.
class TinySource {
 public:
  TinySource(std::vector<std::string> messages, int refuseCode) : m_messages(std::move(messages)), m_refuse(refuseCode) {
    net::NetStartup();
    m_listener = net::CreateTcpSocket(net::Family::kIPv4);
    net::SetReuseAddress(m_listener, true);
    if (!net::BindLoopback(m_listener, net::Family::kIPv4, 0) || !net::Listen(m_listener, 4)) return;
    m_port = net::LocalPort(m_listener);
    m_thread = std::thread([this] { Serve(); });
  }
  ~TinySource() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    net::CloseSocket(m_listener);
  }
  int Port() const { return m_port; }
  std::string Request() const { return m_request; }
  // With a hold, the end-of-data code waits for Release (the stream stays up meanwhile).
  void Hold() { m_hold = true; }
  void Release() { m_hold = false; }

 private:
  static void SendFrame(net::SocketHandle s, int opcode, const std::string& payload) {
    std::string frame(1, static_cast<char>(0x80 | opcode));
    const size_t n = payload.size();
    if (n < 126) {
      frame += static_cast<char>(n);
    } else if (n < 65536) {
      frame += static_cast<char>(126);
      frame += static_cast<char>(n >> 8);
      frame += static_cast<char>(n);
    } else {
      frame += static_cast<char>(127);
      for (int i = 7; i >= 0; --i) frame += static_cast<char>(static_cast<std::uint64_t>(n) >> (8 * i));
    }
    frame += payload;
    net::SendAll(s, frame.data(), frame.size(), 10000);
  }

  void Serve() {
    while (!m_stop) {
      std::vector<net::PollEntry> entries(1);
      entries[0].socket = m_listener;
      if (net::Poll(entries, 50) <= 0) continue;
      const net::SocketHandle s = net::Accept(m_listener);
      if (s == net::kInvalidSocket) continue;
      net::SetNonBlocking(s, false);
      net::SetReceiveTimeout(s, 5000);
      std::string in;
      char buffer[4096];
      while (in.find("\r\n\r\n") == std::string::npos) {
        const auto r = net::Recv(s, buffer, sizeof buffer);
        if (r.status != net::IoStatus::kOk || r.bytes == 0) break;
        in.append(buffer, r.bytes);
      }
      const std::string answer =
          "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
      net::SendAll(s, answer.data(), answer.size(), 5000);
      in.erase(0, in.find("\r\n\r\n") + 4);
      while (in.size() < 6 || in.size() < 6u + (static_cast<unsigned char>(in[1]) & 0x7F)) {
        const auto r = net::Recv(s, buffer, sizeof buffer);
        if (r.status != net::IoStatus::kOk || r.bytes == 0) break;
        in.append(buffer, r.bytes);
      }
      if (in.size() >= 6) {
        const size_t n = static_cast<unsigned char>(in[1]) & 0x7F;
        std::string text = in.substr(6, n);
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(text[i] ^ in[2 + i % 4]);
        m_request = text;
      }
      if (m_refuse != 0) {
        SendFrame(s, 1, "{\"code\":" + std::to_string(m_refuse) + "}");
      } else {
        SendFrame(s, 1, "{\"code\":0}");
        for (const auto& m : m_messages) SendFrame(s, 2, m);
        while (m_hold && !m_stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SendFrame(s, 1, "{\"code\":302}");
      }
      // Let the player read everything and close first.
      net::SetReceiveTimeout(s, 10000);
      while (net::Recv(s, buffer, sizeof buffer).status == net::IoStatus::kOk) {
      }
      net::CloseSocket(s);
    }
  }

  std::vector<std::string> m_messages;
  int m_refuse;
  net::SocketHandle m_listener = net::kInvalidSocket;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_hold{false};
  std::string m_request;
  std::thread m_thread;
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

class NimbrelPlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string video = m_dir.Path("cam.h264");
    ASSERT_TRUE(MakeVideo(video, "testsrc=s=176x144:r=25", 50, "-c:v libx264 -g 25 -bf 0"));
    const auto units = ReadUnits(video);
    ASSERT_EQ(units.size(), 50u);
    std::uint32_t time = 100;
    for (const auto& unit : units) {
      m_messages.push_back(Header(true, 0, 25, 176, 144, time++) + std::string(unit.begin(), unit.end()));
      m_messages.push_back(Header(false, 16, 8000, 0, 0, time) + std::string(320, '\xD5'));  // 40 ms A-law
    }
  }
  TempDir m_dir;
  std::vector<std::string> m_messages;
};

TEST_F(NimbrelPlayTest, PlaysRecordsAndSnapshotsAWholeStream) {
  TinySource source(m_messages, 0);
  ASSERT_GT(source.Port(), 0);
  const std::string record = m_dir.Path("rec.mkv");
  const std::string snapshot = m_dir.Path("shot.jpg");
  const auto run = Play("ws://127.0.0.1:" + std::to_string(source.Port()) + "/live --headless --request '{\"x\":1}'" +
                        " --record " + record + " --snapshot " + snapshot);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(source.Request(), "{\"x\":1}");
  EXPECT_TRUE(std::regex_search(run.output, std::regex("received [0-9]+ decoded [0-9]+ presented [0-9]+ dropped [0-9]+ "
                                                       "fps [0-9.]+ cpu [0-9.]+ latency-p50 [0-9.]+ latency-p99 [0-9.]+")))
      << run.output;
  EXPECT_EQ(Stat(run.output, "received"), 50);
  EXPECT_EQ(Stat(run.output, "decoded"), 50);
  EXPECT_EQ(Stat(run.output, "presented"), 50);
  EXPECT_EQ(Stat(run.output, "dropped"), 0);

  const ProbeResult video = Probe(record, "v");
  EXPECT_EQ(video.codec, "h264");
  EXPECT_EQ(video.frames, 50);
  EXPECT_EQ(Probe(record, "a").codec, "aac");
  const ProbeResult picture = Probe(snapshot, "v");
  EXPECT_EQ(picture.codec, "mjpeg");
  EXPECT_EQ(picture.width, 176);
}

TEST_F(NimbrelPlayTest, StopsAfterTheFramesAsked) {
  TinySource source(m_messages, 0);
  const auto run = Play("ws://127.0.0.1:" + std::to_string(source.Port()) + "/live --headless --frames 20");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(Stat(run.output, "received"), 20);
}

TEST_F(NimbrelPlayTest, RefusedOrUnreachableSourcesEndWithAnError) {
  {
    TinySource source(m_messages, 4003);
    const auto run = Play("ws://127.0.0.1:" + std::to_string(source.Port()) + "/live --headless");
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
  TempDir dir;
  const std::string video = dir.Path("red.h264");
  ASSERT_TRUE(MakeVideo(video, "color=c=red:s=176x144:r=25", 25, "-c:v libx264 -bf 0"));
  std::vector<std::string> messages;
  std::uint32_t time = 0;
  for (const auto& unit : ReadUnits(video)) {
    messages.push_back(Header(true, 0, 25, 176, 144, time++) + std::string(unit.begin(), unit.end()));
  }
  TinySource source(messages, 0);
  source.Hold();
  RunResult run;
  std::thread player([&] {
    run = Play("ws://127.0.0.1:" + std::to_string(source.Port()) + "/live", "DISPLAY=" + display.Display());
  });
  // The window sits at the screen's origin; wait until the picture shows there.
  Pixel seen{-1, -1, -1};
  for (int attempt = 0; attempt < 200 && !Near(seen, 255, 0, 0); ++attempt) seen = display.At(80, 60);
  source.Release();
  player.join();
  EXPECT_TRUE(Near(seen, 255, 0, 0)) << seen.r << "," << seen.g << "," << seen.b;
  EXPECT_EQ(run.exitCode, 0) << run.output;
}

}  // namespace
