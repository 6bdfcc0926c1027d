// Media messages per second, MB/s and CPU per message through StreamClient from nimbrel-source
// over loopback, plain and TLS, against reading the same stream with a plain blocking socket.
#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "JsonFigures.h"
#include "Percentile.h"

#include "platform/net/SocketNative.h"
#include "service/media/MediaHeader.h"
#include "service/media/StreamClient.h"
#include "service/media/WsFraming.h"
#include "service/media/WsHandshake.h"
#include "service/media/WsOutput.h"
#include "tests/integration/stream/SourceProcess.h"

namespace {
using Clock = std::chrono::steady_clock;
namespace net = platform::net;

struct Figures {
  long messages = 0;
  double bytes = 0;
  double seconds = 0;
  double cpuSeconds = 0;
};

double CpuNow() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// --- through StreamClient --------------------------------------------------------------------
struct Counter {
  std::mutex mutex;
  std::condition_variable cv;
  bool connected = false, ended = false;
  long messages = 0;
  double bytes = 0;
  std::atomic<StreamClient*> client{nullptr};

  static void OnMessage(const std::vector<uint8_t>& m, void* user) {
    auto* self = static_cast<Counter*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    if (m.empty()) {
      self->connected = true;
    } else if (IsJsonText(m.data(), m.size())) {
      if (std::string(m.begin(), m.end()).find("302") != std::string::npos) {
        self->ended = true;
        if (self->client.load()) self->client.load()->Stop();
      }
    } else {
      // Counted only: waking the waiting thread for every message would bill its wake-ups (two
      // context switches per message) to the client.
      ++self->messages;
      self->bytes += static_cast<double>(m.size());
      return;
    }
    self->cv.notify_all();
  }
};

Figures ThroughStreamClient(const std::string& url) {
  Counter c;
  Figures f;
  StreamClient client(url, &Counter::OnMessage, &c);
  c.client.store(&client);
  {
    std::unique_lock<std::mutex> lock(c.mutex);
    c.cv.wait_for(lock, std::chrono::seconds(60), [&] { return c.connected; });
  }
  double cpu0 = CpuNow();
  auto t0 = Clock::now();
  client.SendText("{\"request\":\"bench\"}");
  {
    std::unique_lock<std::mutex> lock(c.mutex);
    c.cv.wait_for(lock, std::chrono::seconds(300), [&] { return c.ended; });
  }
  f.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  f.cpuSeconds = CpuNow() - cpu0;
  client.WaitEnded(std::chrono::seconds(10));
  std::lock_guard<std::mutex> lock(c.mutex);
  f.messages = c.messages;
  f.bytes = c.bytes;
  return f;
}

// --- plain blocking socket -------------------------------------------------------------------
struct PlainReader {
  net::SocketHandle socket = net::kInvalidSocket;
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;

  ~PlainReader() {
    if (ssl) SSL_free(ssl);
    if (ctx) SSL_CTX_free(ctx);
    net::CloseSocket(socket);
  }
  long Read(void* buf, size_t n) {
    if (ssl) return SSL_read(ssl, buf, static_cast<int>(n));
    net::IoResult r = net::Recv(socket, buf, n);
    return r.status == net::IoStatus::kOk ? static_cast<long>(r.bytes) : -1;
  }
  bool Write(const std::string& s) {
    if (ssl) return SSL_write(ssl, s.data(), static_cast<int>(s.size())) > 0;
    return net::SendAll(socket, s.data(), s.size(), 10000);
  }
};

Figures ThroughPlainSocket(bool tls, int port, const std::string& path) {
  Figures f;
  PlainReader r;
  auto addresses = net::Resolve("127.0.0.1", port, nullptr);
  if (addresses.empty()) return f;
  r.socket = net::ConnectTo(addresses[0], 5000);
  if (r.socket == net::kInvalidSocket) return f;
  net::SetNoDelay(r.socket, true);
  if (tls) {
    r.ctx = SSL_CTX_new(TLS_client_method());
    r.ssl = SSL_new(r.ctx);
    SSL_set_fd(r.ssl, net::NativeDescriptor(r.socket));
    if (SSL_connect(r.ssl) != 1) return f;
  }
  easywsclient::WsUrl url{tls, "127.0.0.1", port, path};
  std::string request;
  for (const auto& line : easywsclient::BuildRequestLines(url, "")) request += line;
  if (!r.Write(request)) return f;
  // Answer up to the empty line, read whole; any frame bytes after it are kept.
  std::vector<uint8_t> buf;
  std::vector<uint8_t> chunk(1 << 16);
  size_t at = std::string::npos;
  while (at == std::string::npos) {
    long n = r.Read(chunk.data(), chunk.size());
    if (n <= 0) return f;
    buf.insert(buf.end(), chunk.begin(), chunk.begin() + n);
    at = std::string(buf.begin(), buf.end()).find("\r\n\r\n");
  }
  buf.erase(buf.begin(), buf.begin() + static_cast<long>(at + 4));

  std::vector<uint8_t> frame;
  std::string text = "{\"request\":\"bench\"}";
  easywsclient::AppendClientFrame(frame, easywsclient::kOpText, reinterpret_cast<const uint8_t*>(text.data()),
                                  text.size());
  double cpu0 = CpuNow();
  auto t0 = Clock::now();
  r.Write(std::string(frame.begin(), frame.end()));
  // Walk the frames; unfragmented media is what the source sends unless asked otherwise.
  size_t pos = 0;
  for (bool done = false; !done;) {
    for (;;) {
      size_t avail = buf.size() - pos;
      if (avail < 2) break;
      const uint8_t* p = buf.data() + pos;
      uint64_t len = p[1] & 0x7F;
      size_t header = 2;
      if (len == 126) {
        if (avail < 4) break;
        len = (p[2] << 8) | p[3];
        header = 4;
      } else if (len == 127) {
        if (avail < 10) break;
        len = 0;
        for (int i = 0; i < 8; ++i) len = (len << 8) | p[2 + i];
        header = 10;
      }
      if (avail < header + len) break;
      uint8_t opcode = p[0] & 0x0F;
      if (opcode == easywsclient::kOpBinary) {
        ++f.messages;
        f.bytes += static_cast<double>(len);
      } else if (opcode == easywsclient::kOpText &&
                 std::string(p + header, p + header + len).find("302") != std::string::npos) {
        done = true;
      }
      pos += header + len;
    }
    if (done) break;
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(pos));
    pos = 0;
    long n = r.Read(chunk.data(), chunk.size());
    if (n <= 0) break;
    buf.insert(buf.end(), chunk.begin(), chunk.begin() + n);
  }
  f.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  f.cpuSeconds = CpuNow() - cpu0;
  return f;
}

void Print(const char* transport, const char* reader, const Figures& f) {
  double mps = f.seconds > 0 ? f.messages / f.seconds : 0;
  double mbps = f.seconds > 0 ? f.bytes / f.seconds / 1e6 : 0;
  double cpuUs = f.messages > 0 ? f.cpuSeconds * 1e6 / f.messages : 0;
  std::printf("%-5s %-13s %7ld msgs %8.2f MB %7.3f s %10.0f msg/s %8.1f MB/s %8.2f us CPU/msg\n", transport,
              reader, f.messages, f.bytes / 1e6, f.seconds, mps, mbps, cpuUs);
}
}  // namespace

int main(int argc, char** argv) {
  int frames = 3000;
  int runs = 3;
  std::string size = "1280x720", jsonPath;
  for (int i = 1, positional = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--json" && i + 1 < argc) jsonPath = argv[++i];
    else if (positional++ == 0) frames = std::atoi(arg.c_str());
    else size = arg;
  }
  int width = 1280, height = 720;
  std::sscanf(size.c_str(), "%dx%d", &width, &height);
  platform::net::NetStartup();
  easywsclient::SetWsOutputSink([](easywsclient::OutputStream, const std::string&) {});

  std::string dir = (std::filesystem::temp_directory_path() / "nimbrel-stream-bench").string();
  std::filesystem::create_directories(dir);
  SourceProcess source;
  if (!source.Start(std::string(NIMBREL_RUN_DIR) + "/nimbrel-source", NIMBREL_SOURCE_DIR, dir)) {
    std::fprintf(stderr, "nimbrel-source did not start\n");
    return 1;
  }
  std::string query = "download?mode=download&codec=h264&width=" + std::to_string(width) +
                      "&height=" + std::to_string(height) + "&fps=25&start=1000&end=2000000&frames=";
  // The source encodes its loop on first use; keep that out of the figures.
  ThroughPlainSocket(false, source.Port(), query + "1");

  std::printf("nimbrel-source download, H.264 %dx%d, %d frames per run, loopback, %d rounds\n", width, height,
              frames, runs);
  JsonFigures json;
  for (bool tls : {false, true}) {
    int port = tls ? source.TlsPort() : source.Port();
    std::string url = std::string(tls ? "wss" : "ws") + "://127.0.0.1:" + std::to_string(port) + "/" + query +
                      std::to_string(frames);
    // Rounds alternate the two readers, so both see the same load; medians of the rounds.
    std::vector<double> timeRatios, cpuRatios;
    for (int run = 0; run < runs; ++run) {
      const Figures plain = ThroughPlainSocket(tls, port, query + std::to_string(frames));
      const Figures client = ThroughStreamClient(url);
      Print(tls ? "wss" : "ws", "plain socket", plain);
      Print(tls ? "wss" : "ws", "StreamClient", client);
      if (plain.messages > 0 && client.messages > 0) {
        timeRatios.push_back((client.seconds / client.messages) / (plain.seconds / plain.messages));
        cpuRatios.push_back((client.cpuSeconds / client.messages) / std::max(1e-9, plain.cpuSeconds / plain.messages));
      }
    }
    const std::string prefix = tls ? "client_vs_socket_tls" : "client_vs_socket";
    // The source sends as fast as either reader takes, so the wall-clock ratio mostly shows the
    // source; CPU per message is what limits a reader's throughput, and is the headline figure.
    json[prefix + "_ratio"] = Percentile(cpuRatios, 0.5);
    json[prefix + "_time_ratio"] = Percentile(timeRatios, 0.5);
    std::printf("%s: StreamClient CPU per message / plain socket's: %.2f (median); time per message: %.2f\n",
                tls ? "wss" : "ws", json[prefix + "_ratio"], json[prefix + "_time_ratio"]);
  }
  std::filesystem::remove_all(dir);
  if (!jsonPath.empty() && !WriteJsonFigures(jsonPath, json)) return 1;
  return 0;
}
