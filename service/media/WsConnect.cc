// connectTo: URL, TCP connection, optional TLS, and the opening handshake.
#include <chrono>
#include <cstring>

#include "platform/net/Socket.h"
#include "service/media/ConnectAbort.h"
#include "service/media/RealWebSocket.h"
#include "service/media/WsHandshake.h"
#include "service/media/WsOutput.h"

namespace easywsclient {

namespace {
// Bounds connecting, each handshake read and the whole upgrade answer, so a silent peer, or one
// that sends its answer a line at a time for ever, cannot hold the client thread.
constexpr int kConnectTimeoutMs = 5000;
constexpr int kHandshakeTimeoutMs = 5000;

using Deadline = std::chrono::steady_clock::time_point;

enum class LineResult { kOk, kTooLong, kClosed };

// Reads one line ending in "\r\n" a byte at a time, at most kMaxStatusLine bytes; past the
// deadline the answer counts as never finished.
LineResult ReadLine(WsTransport& t, std::string& line, Deadline deadline) {
  line.clear();
  while (line.size() < kMaxStatusLine) {
    if (std::chrono::steady_clock::now() > deadline) return LineResult::kClosed;
    char c;
    platform::net::IoResult r = t.Recv(&c, 1);
    if (r.status != platform::net::IoStatus::kOk) return LineResult::kClosed;
    line.push_back(c);
    if (line.size() >= 2 && line[line.size() - 2] == '\r' && c == '\n') return LineResult::kOk;
  }
  return LineResult::kTooLong;
}

std::unique_ptr<WsTransport> OpenTransport(const WsUrl& url) {
  std::string error;
  auto addresses = platform::net::Resolve(url.host, url.port, &error);
  if (addresses.empty()) {
    WsPrint(OutputStream::kError, "getaddrinfo: %s\n", error.empty() ? "no address" : error.c_str());
    return nullptr;
  }
  for (const auto& address : addresses) {
    platform::net::SocketHandle s = platform::net::ConnectTo(address, kConnectTimeoutMs);
    if (s != platform::net::kInvalidSocket) return std::make_unique<WsTransport>(s);
  }
  WsPrint(OutputStream::kError, "Unable to connect to %s:%d\n", url.host.c_str(), url.port);
  return nullptr;
}

bool SendAllBlocking(WsTransport& t, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    platform::net::IoResult r = t.Send(text.data() + done, text.size() - done);
    if (r.status != platform::net::IoStatus::kOk) return false;
    done += r.bytes;
  }
  return true;
}
}  // namespace

// Keeps the attempt's socket watched by `abort` while the object lives.
class WatchedAttempt {
 public:
  WatchedAttempt(ConnectAbort* abort, platform::net::SocketHandle socket)
      : m_abort(abort), m_go(!abort || abort->Watch(socket)) {}
  ~WatchedAttempt() {
    if (m_abort) m_abort->Watch(platform::net::kInvalidSocket);
  }
  bool Go() const { return m_go; }

 private:
  ConnectAbort* m_abort;
  bool m_go;
};

std::shared_ptr<_RealWebSocket> connectReal(const std::string& url, const std::string& origin, ConnectAbort* abort) {
  platform::net::NetStartup();
  if (url.size() >= kMaxUrlLength) {
    WsPrint(OutputStream::kError, "ERROR: url size limit exceeded: %s\n", url.c_str());
    return nullptr;
  }
  if (origin.size() >= kMaxOriginLength) {
    WsPrint(OutputStream::kError, "ERROR: origin size limit exceeded: %s\n", origin.c_str());
    return nullptr;
  }
  std::optional<WsUrl> parsed = ParseWsUrl(url);
  if (!parsed) {
    WsPrint(OutputStream::kError, "ERROR: Could not parse WebSocket url: %s\n", url.c_str());
    return nullptr;
  }
  std::unique_ptr<WsTransport> transport = OpenTransport(*parsed);
  if (!transport) return nullptr;
  // Declared after the transport: the watch ends before the socket closes.
  WatchedAttempt attempt(abort, transport->Socket());
  if (!attempt.Go()) return nullptr;
  const Deadline deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHandshakeTimeoutMs);
  platform::net::SetReceiveTimeout(transport->Socket(), kHandshakeTimeoutMs);
  platform::net::SetSendTimeout(transport->Socket(), kHandshakeTimeoutMs);
  if (parsed->secure && !transport->StartTls()) return nullptr;

  for (const std::string& line : BuildRequestLines(*parsed, origin)) {
    if (!SendAllBlocking(*transport, line)) return nullptr;
  }
  std::string line;
  LineResult lr = ReadLine(*transport, line, deadline);
  if (lr == LineResult::kTooLong) {
    WsPrint(OutputStream::kError, "ERROR: Got invalid status line connecting to: %s\n", url.c_str());
    return nullptr;
  }
  if (lr == LineResult::kClosed) return nullptr;
  int status = 0;
  if (std::sscanf(line.c_str(), "HTTP/1.1 %d", &status) != 1 || status != 101) {
    WsPrint(OutputStream::kError, "ERROR: Got bad status connecting to %s: %s", url.c_str(), line.c_str());
    return nullptr;
  }
  // Header lines up to the empty one; their content (the accept key too) is not needed.
  for (;;) {
    lr = ReadLine(*transport, line, deadline);
    if (lr == LineResult::kTooLong) {
      WsPrint(OutputStream::kError, "ERROR: Got invalid status line connecting to: %s\n", url.c_str());
      return nullptr;
    }
    if (lr == LineResult::kClosed) return nullptr;
    if (line == "\r\n") break;
  }
  platform::net::SetReceiveTimeout(transport->Socket(), 0);
  platform::net::SetSendTimeout(transport->Socket(), 0);
  platform::net::SetNoDelay(transport->Socket(), true);
  platform::net::SetNonBlocking(transport->Socket(), true);
  return std::make_shared<_RealWebSocket>(std::move(transport));
}

std::shared_ptr<WebSocket> connectTo(const std::string& url, const std::string& origin) {
  return connectReal(url, origin);
}

}  // namespace easywsclient
