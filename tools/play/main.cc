// nimbrel-play: plays one stream source through the AV library, for people who debug cameras
// and as the benchmark harness.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "PlayWindow.h"
#include "Player.h"
#include "SourceReply.h"
#include "service/media/MediaHeader.h"
#include "service/media/StreamClient.h"
#include "service/media/WsOutput.h"
#include "service/media/WsUrl.h"

namespace {

using play::PlayOptions;

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
    "Escape in the window stops playing.\n"
    "Prints: received N decoded N presented N dropped N fps F cpu S latency-p50 MS latency-p99 MS\n"
    "Exit: 0 played, 1 usage, 2 source unreachable, 3 source refused, 4 nothing playable.\n";

// Failed connection attempts are retried this soon, so an absent source is reported quickly.
constexpr std::chrono::milliseconds kReconnectDelay{200};

bool ParseOptions(int argc, char** argv, PlayOptions* o) {
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

// What the stream client delivers, on its thread: the request goes out on connecting, texts
// decide whether to go on, media goes to the player. The first decision to end is kept.
class Session {
 public:
  Session(const PlayOptions& options, play::Player& player) : m_options(options), m_player(player) {}

  static void OnMessage(const std::vector<std::uint8_t>& message, void* user) {
    static_cast<Session*>(user)->Handle(message);
  }
  // Lets deliveries use the client; they wait for it, as the client starts delivering at once.
  void Attach(StreamClient* client) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_client = client;
    m_attached.notify_all();
  }
  bool Connected() const { return m_connections.load() > 0; }
  int Status() const { return m_status.load(); }

 private:
  void Handle(const std::vector<std::uint8_t>& message) {
    if (m_ended) return;
    if (message.empty()) {
      // One connection per run: a dropped stream ends it rather than starting over.
      if (m_connections++ > 0) return End(0);
      Client()->SendText(m_options.request);
      return;
    }
    if (IsJsonText(message.data(), message.size())) return OnText(std::string(message.begin(), message.end()));
    const auto header = ParseMediaHeader(message.data(), message.size());
    if (!header || message.size() == kMediaHeaderSize) return;
    if (!m_player.Feed(*header, message.data() + kMediaHeaderSize, message.size() - kMediaHeaderSize)) return End(4);
    if (m_options.frames > 0 && m_player.Received() >= m_options.frames) End(0);
  }

  void OnText(const std::string& text) {
    const int code = play::ReplyCode(text);
    switch (play::ClassifyReply(code)) {
      case play::SourceReply::kGoOn:
        return;
      case play::SourceReply::kNotice:
        std::fprintf(stderr, "nimbrel-play: source says %d\n", code);
        return;
      case play::SourceReply::kEndOfData:
        return End(0);
      case play::SourceReply::kRefused:
        std::fprintf(stderr, "nimbrel-play: source refused the stream with code %d\n", code);
        return End(3);
    }
  }

  void End(int status) {
    m_ended = true;
    m_status = status;
    Client()->Stop();
  }

  StreamClient* Client() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_attached.wait(lock, [this] { return m_client != nullptr; });
    return m_client;
  }

  const PlayOptions& m_options;
  play::Player& m_player;
  std::mutex m_mutex;
  std::condition_variable m_attached;
  StreamClient* m_client = nullptr;  // m_mutex
  bool m_ended = false;              // client thread only
  std::atomic<int> m_connections{0};
  std::atomic<int> m_status{0};
};

// Waits until the client has ended, or stops it once the run's time is up.
void WaitForEnd(StreamClient& client, int seconds) {
  if (seconds > 0) {
    if (!client.WaitEnded(std::chrono::seconds(seconds))) client.Stop();
    return;
  }
  while (!client.WaitEnded(std::chrono::hours(1))) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  PlayOptions options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  if (options.url.size() >= easywsclient::kMaxUrlLength || !easywsclient::ParseWsUrl(options.url)) {
    std::fprintf(stderr, "nimbrel-play: not a ws:// or wss:// URL (under %zu characters): %s\n",
                 easywsclient::kMaxUrlLength, options.url.c_str());
    return 2;
  }
  // Standard output carries only the statistics line.
  easywsclient::SetWsOutputSink([](easywsclient::OutputStream, const std::string& text) {
    std::fprintf(stderr, "nimbrel-play: %s", text.c_str());
  });

  std::atomic<StreamClient*> escapeTarget{nullptr};
  std::string error;
  auto window = play::PlayWindow::Open(options.headless, options.width > 0 ? options.width : 640,
                                       options.height > 0 ? options.height : 360,
                                       [&escapeTarget] {
                                         if (StreamClient* client = escapeTarget.load()) client->Stop();
                                       },
                                       &error);
  if (!window) {
    std::fprintf(stderr, "nimbrel-play: %s\n", error.c_str());
    return 1;
  }

  int status = 0;
  {
    play::Player player(options, *window);
    Session session(options, player);
    StreamClient client(options.url, &Session::OnMessage, &session, kReconnectDelay);
    session.Attach(&client);
    escapeTarget = &client;
    std::thread ender([&] {
      WaitForEnd(client, options.seconds);
      player.Drain();
      window->Close();
    });
    window->Run();
    ender.join();
    escapeTarget = nullptr;
    client.Stop();

    status = session.Status();
    if (!session.Connected()) {
      std::fprintf(stderr, "nimbrel-play: cannot reach the source at %s\n", options.url.c_str());
      status = 2;
    }
    const bool played = player.Opened();
    const int finished = player.Finish();
    if (status == 0 && !played) {
      std::fprintf(stderr, "nimbrel-play: no video came from the source\n");
      status = 4;
    }
    if (status == 0) status = finished;
  }
  return status;
}
