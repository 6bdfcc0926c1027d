#include "WsClient.h"

#include <openssl/ssl.h>

#include <random>
#include <system_error>

#include "common/Base64.h"
#include "service/host/HttpRequest.h"

namespace {

SSL_CTX* ClientContext() {
  static SSL_CTX* context = [] {
    SSL_CTX* c = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
    return c;
  }();
  return context;
}

}  // namespace

WsClient::~WsClient() { Close(); }

void WsClient::Close() {
  if (m_ssl) SSL_free(m_ssl);
  m_ssl = nullptr;
  if (m_socket != platform::net::kInvalidSocket) platform::net::CloseSocket(m_socket);
  m_socket = platform::net::kInvalidSocket;
}

bool WsClient::Connect(platform::net::Family family, int port, bool tls, int timeoutMs) {
  std::string error;
  auto addresses = platform::net::Resolve(family == platform::net::Family::kIPv4 ? "127.0.0.1" : "::1", port, &error);
  if (addresses.empty()) return false;
  m_socket = platform::net::ConnectTo(addresses[0], timeoutMs);
  if (m_socket == platform::net::kInvalidSocket) return false;
  platform::net::SetNonBlocking(m_socket, false);
  platform::net::SetReceiveTimeout(m_socket, timeoutMs);
  platform::net::SetSendTimeout(m_socket, timeoutMs);
  if (!tls) return true;
  m_ssl = SSL_new(ClientContext());
  SSL_set_fd(m_ssl, static_cast<int>(m_socket));
  return SSL_connect(m_ssl) == 1;
}

bool WsClient::SendRaw(const std::string& bytes) {
  if (m_ssl) return SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
  return platform::net::SendAll(m_socket, bytes.data(), bytes.size(), 10000);
}

int WsClient::ReadSome(char* buffer, std::size_t size) {
  if (m_ssl) {
    int n = SSL_read(m_ssl, buffer, static_cast<int>(size));
    if (n > 0) return n;
    return SSL_get_error(m_ssl, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }
  platform::net::IoResult r = platform::net::Recv(m_socket, buffer, size);
  if (r.status == platform::net::IoStatus::kOk) return static_cast<int>(r.bytes);
  return r.status == platform::net::IoStatus::kClosed ? 0 : -1;
}

bool WsClient::Fill(std::size_t n) {
  char buffer[65536];
  while (m_pending.size() < n) {
    int got = ReadSome(buffer, sizeof buffer);
    if (got <= 0) return false;
    m_pending.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

void WsClient::SetReadTimeout(int timeoutMs) { platform::net::SetReceiveTimeout(m_socket, timeoutMs); }

bool WsClient::ReadExact(std::string& out, std::size_t n) {
  if (!Fill(n)) return false;
  out = m_pending.substr(0, n);
  m_pending.erase(0, n);
  return true;
}

bool WsClient::Upgrade() {
  std::mt19937 random(std::random_device{}());
  std::string nonce(16, '\0');
  for (char& c : nonce) c = static_cast<char>(random());
  std::string key = Base64Encode(nonce);
  if (!SendRaw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: " + key + "\r\nSec-WebSocket-Version: 13\r\n\r\n")) {
    return false;
  }
  std::string answer = ReadHttpHead();
  return answer ==
         "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept:" +
             MakeAcceptKey(key) + "\r\n\r\n";
}

std::string WsClient::MaskedFrame(int first, const std::string& payload) {
  std::string f(1, static_cast<char>(first));
  std::size_t n = payload.size();
  if (n < 126) {
    f.push_back(static_cast<char>(0x80 | n));
  } else if (n <= 65535) {
    f.push_back(static_cast<char>(0x80 | 126));
    f.push_back(static_cast<char>(n >> 8));
    f.push_back(static_cast<char>(n));
  } else {
    f.push_back(static_cast<char>(0x80 | 127));
    for (int s = 56; s >= 0; s -= 8) f.push_back(static_cast<char>(static_cast<std::uint64_t>(n) >> s));
  }
  const char key[4] = {0x12, 0x34, 0x56, 0x78};
  f.append(key, 4);
  for (std::size_t i = 0; i < n; ++i) f.push_back(static_cast<char>(payload[i] ^ key[i % 4]));
  return f;
}

bool WsClient::SendText(const std::string& text) { return SendRaw(MaskedFrame(0x81, text)); }

std::optional<std::string> WsClient::ReadText() {
  // Nothing is taken until the whole frame is here: a time-out inside a frame leaves its bytes
  // for the next read instead of losing the frame's start and reading its payload as a header.
  if (!Fill(2)) return std::nullopt;
  std::uint64_t n = static_cast<std::uint8_t>(m_pending[1]) & 0x7F;
  std::size_t head = 2;
  if (n == 126 || n == 127) {
    const std::size_t extra = n == 126 ? 2 : 8;
    if (!Fill(head + extra)) return std::nullopt;
    n = 0;
    for (std::size_t i = 0; i < extra; ++i) n = (n << 8) | static_cast<std::uint8_t>(m_pending[head + i]);
    head += extra;
  }
  if (!Fill(head + static_cast<std::size_t>(n))) return std::nullopt;
  std::string payload = m_pending.substr(head, static_cast<std::size_t>(n));
  m_pending.erase(0, head + static_cast<std::size_t>(n));
  return payload;
}

std::string WsClient::ReadHttpHead() {
  char buffer[4096];
  while (m_pending.find("\r\n\r\n") == std::string::npos) {
    int got = ReadSome(buffer, sizeof buffer);
    if (got <= 0) return "";
    m_pending.append(buffer, static_cast<std::size_t>(got));
  }
  std::size_t end = m_pending.find("\r\n\r\n") + 4;
  std::string head = m_pending.substr(0, end);
  m_pending.erase(0, end);
  return head;
}

bool WsClient::WaitClosed() {
  char buffer[4096];
  for (;;) {
    int got = ReadSome(buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      // A reset counts as closed; a time-out does not.
      std::error_code error(platform::net::LastErrorCode(), std::generic_category());
      return error != std::errc::resource_unavailable_try_again && error != std::errc::operation_would_block;
    }
  }
}

std::string WebConnect(const std::string& sequence) {
  return "{\"cmd\":\"webconnect\",\"data\":{\"webVersion\":\"1.0\"},\"sequence\":\"" + sequence + "\"}";
}

std::string JsonString(const std::string& json, const std::string& name) {
  std::string marker = "\"" + name + "\":\"";
  std::size_t start = json.find(marker);
  if (start == std::string::npos) return "";
  start += marker.size();
  std::size_t end = json.find('"', start);
  return end == std::string::npos ? "" : json.substr(start, end - start);
}
