// nimbrel-play: plays one stream source through the AV library, for people who debug cameras
// and as the benchmark harness.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "PlayStats.h"
#include "PlayWindow.h"
#include "VXAVPlayer.h"
#include "WireFrame.h"
#include "WsClient.h"
#include "common/TextConv.h"

namespace {

struct Options {
  std::string url;
  std::string request = "{\"data\":{}}";
  bool headless = false;
  bool playback = false;
  bool sound = false;
  std::string record;
  std::string snapshot;
  long frames = -1;
  int width = 0;
  int height = 0;
  int seconds = 0;
};

const char kUsage[] =
    "Usage: nimbrel-play URL [options]\n"
    "  --request TEXT    text sent once connected (default {\"data\":{}})\n"
    "  --headless        no window: pictures are scaled and kept in memory\n"
    "  --size WxH        window size (default: the stream's)\n"
    "  --playback        pace by the frame rate instead of showing at once\n"
    "  --record FILE     record into FILE (container by extension)\n"
    "  --snapshot FILE   write the last picture at the end (.jpg, .png, .bmp)\n"
    "  --frames N        stop after N video frames\n"
    "  --seconds S       stop after S seconds\n"
    "  --sound           play the stream's audio\n"
    "Prints: received N decoded N presented N dropped N fps F cpu S latency-p50 MS latency-p99 MS\n"
    "Exit: 0 played, 1 usage, 2 source unreachable, 3 source refused, 4 nothing playable.\n";

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--headless") {
      o->headless = true;
    } else if (arg == "--playback") {
      o->playback = true;
    } else if (arg == "--sound") {
      o->sound = true;
    } else if (arg == "--request") {
      if (!value(&o->request)) return false;
    } else if (arg == "--record") {
      if (!value(&o->record)) return false;
    } else if (arg == "--snapshot") {
      if (!value(&o->snapshot)) return false;
    } else if (arg == "--frames") {
      if (!value(&v) || (o->frames = std::atol(v.c_str())) <= 0) return false;
    } else if (arg == "--seconds") {
      if (!value(&v) || (o->seconds = std::atoi(v.c_str())) <= 0) return false;
    } else if (arg == "--size") {
      if (!value(&v) || std::sscanf(v.c_str(), "%dx%d", &o->width, &o->height) != 2 || o->width <= 0 ||
          o->height <= 0) {
        return false;
      }
    } else if (arg.rfind("--", 0) == 0 || !o->url.empty()) {
      return false;
    } else {
      o->url = arg;
    }
  }
  return !o->url.empty();
}

// The integer "code" of a source's JSON text, or 0.
int CodeOf(const std::vector<std::uint8_t>& text) {
  const std::string s(text.begin(), text.end());
  const auto key = s.find("\"code\"");
  if (key == std::string::npos) return 0;
  const auto colon = s.find(':', key);
  return colon == std::string::npos ? 0 : std::atoi(s.c_str() + colon + 1);
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

class Player {
 public:
  explicit Player(const Options& options) : m_options(options) {}
  ~Player() {
    if (m_handle > 0) {
      if (!m_options.record.empty()) VX_StopRecord(m_handle);
      VX_CloseStream(m_handle);
    }
  }

  // Opens the library on the first video frame; false when it cannot play.
  bool Feed(const play::WireFrame& frame, play::PlayWindow* window) {
    if (m_handle <= 0) {
      if (!frame.video) {
        m_audioCodec = frame.codec;  // remembered for the stream's opening
        return true;
      }
      if (!Open(frame, window)) return false;
    }
    StreamDescription d{};
    d.videoCodec = static_cast<std::uint16_t>(frame.video ? frame.codec : m_videoCodec);
    d.audioCodec = static_cast<std::uint16_t>(frame.video ? m_audioCodec : frame.codec);
    d.frameRate = static_cast<std::uint16_t>(frame.video ? frame.rate : 0);
    d.frameType = static_cast<std::uint16_t>(frame.frameType);
    d.kind = frame.video ? 0 : 1;
    d.streamMode = m_open.streamMode;
    d.frameTime = frame.video ? m_stats.Received() : frame.time;
    if (!frame.video) m_audioCodec = frame.codec;
    while (true) {
      const int result =
          VX_InputData(m_handle, frame.payload, static_cast<std::int32_t>(frame.payloadSize), &d, 0);
      if (result != VX_ERR_BUFFER_FULL) return true;  // other refusals drop just this frame
      window->Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // Waits until the library has shown what it was given (bounded, in case a decoder holds some).
  void Drain() {
    if (m_handle <= 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::int32_t decoded = 0, buffered = 1, shown = 0;
    while (std::chrono::steady_clock::now() < deadline &&
           VX_GetVideoBufferInfo(m_handle, &decoded, &buffered, &shown) == VX_OK && buffered > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  int Finish() {
    int status = 0;
    if (m_handle > 0 && !m_options.snapshot.empty() &&
        VX_SnapshotW(m_handle, Utf8ToWide(m_options.snapshot).c_str(), 0) != VX_OK) {
      std::fprintf(stderr, "nimbrel-play: snapshot %s failed\n", m_options.snapshot.c_str());
      status = 4;
    }
    if (m_handle > 0 && !m_options.record.empty() && VX_StopRecord(m_handle) != VX_OK) {
      std::fprintf(stderr, "nimbrel-play: recording %s failed\n", m_options.record.c_str());
      status = 4;
    }
    if (m_handle > 0) VX_CloseStream(m_handle);
    m_handle = -1;
    std::printf("%s\n", m_stats.Line(CpuSeconds()).c_str());
    std::fflush(stdout);
    return status;
  }

  bool Opened() const { return m_handle > 0; }
  std::int64_t Received() const { return m_stats.ReceivedCount(); }

 private:
  bool Open(const play::WireFrame& frame, play::PlayWindow* window) {
    m_videoCodec = frame.codec;
    m_open = StreamDescription{};
    m_open.videoCodec = static_cast<std::uint16_t>(frame.codec);
    m_open.audioCodec = static_cast<std::uint16_t>(m_audioCodec);
    m_open.frameRate = static_cast<std::uint16_t>(frame.rate);
    m_open.width = static_cast<std::uint16_t>(frame.width);
    m_open.height = static_cast<std::uint16_t>(frame.height);
    m_open.streamMode = m_options.playback ? VX_MODE_PLAYBACK : VX_MODE_LIVE;
    if (m_options.width == 0 && frame.width > 0 && frame.height > 0) window->Resize(frame.width, frame.height);
    if (VX_OpenStream(&m_open, &m_handle, window->Id(), 0) != VX_OK || VX_Play(m_handle, window->Id(), 0) != VX_OK) {
      std::fprintf(stderr, "nimbrel-play: the library cannot play codec %d\n", frame.codec);
      return false;
    }
    VX_SetDecodeCallBack(m_handle, &Player::OnDecoded, this);
    VX_SetDrawCallBack(m_handle, &Player::OnDrawn, this);
    if (m_options.sound) VX_OpenSound(m_handle);
    if (!m_options.record.empty()) {
      const int result = VX_StartRecord(m_handle, m_options.record.c_str(), nullptr, frame.rate);
      if (result != VX_OK) std::fprintf(stderr, "nimbrel-play: cannot record to %s (%d)\n", m_options.record.c_str(), result);
    }
    return true;
  }

  static void OnDecoded(VX_HANDLE, const std::uint8_t*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                        const std::uint32_t* info, void* user) {
    if (info[3] == 0) static_cast<Player*>(user)->m_stats.Decoded(info[2]);
  }
  static void OnDrawn(std::int32_t, void*, void* user) { static_cast<Player*>(user)->m_stats.Presented(); }

  const Options& m_options;
  VX_HANDLE m_handle = -1;
  StreamDescription m_open{};
  int m_videoCodec = 0;
  int m_audioCodec = 0;
  play::PlayStats m_stats;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  std::string error;
  auto window = play::PlayWindow::Create(options.headless, options.width > 0 ? options.width : 640,
                                         options.height > 0 ? options.height : 360, &error);
  if (!window) {
    std::fprintf(stderr, "nimbrel-play: %s\n", error.c_str());
    return 1;
  }
  platform::display::SetVideoOutput(window.get());

  play::WsClient client;
  if (!client.Connect(options.url, &error)) {
    std::fprintf(stderr, "nimbrel-play: %s\n", error.c_str());
    platform::display::SetVideoOutput(nullptr);
    return 2;
  }
  client.SendText(options.request);

  int status = 0;
  {
    Player player(options);
    const auto started = std::chrono::steady_clock::now();
    bool running = true;
    while (running) {
      if (!window->Pump()) break;
      if (options.seconds > 0 && std::chrono::steady_clock::now() - started > std::chrono::seconds(options.seconds)) break;
      play::WsMessage message;
      const auto read = client.Read(&message, 100);
      if (read == play::WsClient::ReadStatus::kTimeout) continue;
      if (read == play::WsClient::ReadStatus::kClosed) break;
      if (message.text) {
        const int code = CodeOf(message.data);
        if (code == 0 || code == 4004) continue;
        if (code == 203 || code == 4001) {
          std::fprintf(stderr, "nimbrel-play: source says %d\n", code);
          continue;
        }
        if (code == 302 || code == 4002) break;  // end of data
        std::fprintf(stderr, "nimbrel-play: source refused the stream with code %d\n", code);
        status = 3;
        break;
      }
      const auto frame = play::ParseWireFrame(message.data.data(), message.data.size());
      if (!frame || frame->payloadSize == 0) continue;
      if (!player.Feed(*frame, window.get())) {
        status = 4;
        break;
      }
      if (options.frames > 0 && player.Received() >= options.frames) running = false;
    }
    client.Close();
    player.Drain();
    const bool played = player.Opened();
    const int finished = player.Finish();
    if (status == 0 && !played) {
      std::fprintf(stderr, "nimbrel-play: no video came from the source\n");
      status = 4;
    }
    if (status == 0) status = finished;
  }
  platform::display::SetVideoOutput(nullptr);
  return status;
}
