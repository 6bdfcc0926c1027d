#include "WsClient.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstring>
#include <random>

#include "platform/net/Socket.h"

namespace play {

namespace net = platform::net;

bool ParseWsUrl(const std::string& url, WsUrl* out) {
  std::string rest;
  if (url.rfind("ws://", 0) == 0) {
    out->tls = false;
    rest = url.substr(5);
  } else if (url.rfind("wss://", 0) == 0) {
    out->tls = true;
    rest = url.substr(6);
  } else {
    return false;
  }
  const auto slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  out->path = slash == std::string::npos ? "/" : rest.substr(slash);
  out->port = out->tls ? 443 : 80;
  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    const auto close = authority.find(']');
    if (close == std::string::npos) return false;
    out->host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return false;
      portText = authority.substr(close + 2);
    }
  } else {
    const auto colon = authority.find(':');
    out->host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
  }
  if (!portText.empty()) {
    char* end = nullptr;
    const long port = std::strtol(portText.c_str(), &end, 10);
    if (*end != '\0' || port <= 0 || port > 65535) return false;
    out->port = static_cast<int>(port);
  }
  return !out->host.empty();
}

struct WsClient::Impl {
  net::SocketHandle socket = net::kInvalidSocket;
  SSL_CTX* context = nullptr;
  SSL* ssl = nullptr;
  std::vector<std::uint8_t> buffer;  // received, not yet framed
  std::vector<std::uint8_t> message;  // fragments so far
  bool messageText = false;
  bool closed = false;

  // Bytes read straight into `buffer`; false on close or error.
  bool Fill(int timeoutMs) {
    if (ssl == nullptr || SSL_pending(ssl) == 0) {
      std::vector<net::PollEntry> entries(1);
      entries[0].socket = socket;
      const int ready = net::Poll(entries, timeoutMs);
      if (ready < 0) return false;
      if (ready == 0) return true;
    }
    std::uint8_t chunk[16384];
    if (ssl != nullptr) {
      const int n = SSL_read(ssl, chunk, sizeof chunk);
      if (n <= 0) {
        const int e = SSL_get_error(ssl, n);
        return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE;
      }
      buffer.insert(buffer.end(), chunk, chunk + n);
      return true;
    }
    const auto r = net::Recv(socket, chunk, sizeof chunk);
    if (r.status == net::IoStatus::kWouldBlock) return true;
    if (r.status != net::IoStatus::kOk || r.bytes == 0) return false;
    buffer.insert(buffer.end(), chunk, chunk + r.bytes);
    return true;
  }

  bool Write(const void* data, size_t size) {
    if (ssl != nullptr) return SSL_write(ssl, data, static_cast<int>(size)) == static_cast<int>(size);
    return net::SendAll(socket, data, size, 5000);
  }

  bool SendFrame(int opcode, const std::uint8_t* payload, size_t size) {
    std::vector<std::uint8_t> frame;
    frame.push_back(static_cast<std::uint8_t>(0x80 | opcode));
    if (size < 126) {
      frame.push_back(static_cast<std::uint8_t>(0x80 | size));
    } else if (size < 65536) {
      frame.push_back(0x80 | 126);
      frame.push_back(static_cast<std::uint8_t>(size >> 8));
      frame.push_back(static_cast<std::uint8_t>(size));
    } else {
      frame.push_back(0x80 | 127);
      for (int i = 7; i >= 0; --i) frame.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(size) >> (8 * i)));
    }
    static thread_local std::mt19937 random{std::random_device{}()};
    std::uint8_t mask[4];
    for (auto& m : mask) m = static_cast<std::uint8_t>(random());
    frame.insert(frame.end(), mask, mask + 4);
    for (size_t i = 0; i < size; ++i) frame.push_back(payload[i] ^ mask[i % 4]);
    return Write(frame.data(), frame.size());
  }

  // One frame out of `buffer` when whole: 1 taken, 0 need more, -1 broken.
  int TakeFrame(int* opcode, bool* fin, std::vector<std::uint8_t>* payload) {
    if (buffer.size() < 2) return 0;
    *fin = (buffer[0] & 0x80) != 0;
    *opcode = buffer[0] & 0x0F;
    const bool masked = (buffer[1] & 0x80) != 0;
    std::uint64_t length = buffer[1] & 0x7F;
    size_t at = 2;
    if (length == 126) {
      if (buffer.size() < 4) return 0;
      length = (static_cast<std::uint64_t>(buffer[2]) << 8) | buffer[3];
      at = 4;
    } else if (length == 127) {
      if (buffer.size() < 10) return 0;
      length = 0;
      for (int i = 0; i < 8; ++i) length = (length << 8) | buffer[2 + i];
      at = 10;
    }
    if (length > (64u << 20)) return -1;
    std::uint8_t mask[4] = {0, 0, 0, 0};
    if (masked) {
      if (buffer.size() < at + 4) return 0;
      std::memcpy(mask, &buffer[at], 4);
      at += 4;
    }
    if (buffer.size() < at + length) return 0;
    payload->assign(buffer.begin() + static_cast<long>(at), buffer.begin() + static_cast<long>(at + length));
    if (masked) {
      for (size_t i = 0; i < payload->size(); ++i) (*payload)[i] ^= mask[i % 4];
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(at + length));
    return 1;
  }

  void Release() {
    if (ssl != nullptr) {
      SSL_shutdown(ssl);
      SSL_free(ssl);
      ssl = nullptr;
    }
    if (context != nullptr) {
      SSL_CTX_free(context);
      context = nullptr;
    }
    if (socket != net::kInvalidSocket) {
      net::CloseSocket(socket);
      socket = net::kInvalidSocket;
    }
  }
};

WsClient::WsClient() : m_impl(std::make_unique<Impl>()) {}
WsClient::~WsClient() { Close(); }

bool WsClient::Connect(const std::string& url, std::string* error) {
  WsUrl parsed;
  if (!ParseWsUrl(url, &parsed)) {
    *error = "cannot parse URL " + url;
    return false;
  }
  net::NetStartup();
  std::string resolveError;
  for (const auto& address : net::Resolve(parsed.host, parsed.port, &resolveError)) {
    m_impl->socket = net::ConnectTo(address, 5000);
    if (m_impl->socket != net::kInvalidSocket) break;
  }
  if (m_impl->socket == net::kInvalidSocket) {
    *error = "cannot connect to " + parsed.host + ":" + std::to_string(parsed.port) +
             (resolveError.empty() ? "" : " (" + resolveError + ")");
    return false;
  }
  net::SetNoDelay(m_impl->socket, true);
  net::SetReceiveTimeout(m_impl->socket, 5000);
  if (parsed.tls) {
    // Sources on this machine carry self-made certificates: the peer is not verified.
    m_impl->context = SSL_CTX_new(TLS_client_method());
    m_impl->ssl = m_impl->context != nullptr ? SSL_new(m_impl->context) : nullptr;
    if (m_impl->ssl == nullptr || SSL_set_fd(m_impl->ssl, static_cast<int>(m_impl->socket)) != 1 ||
        SSL_set_tlsext_host_name(m_impl->ssl, parsed.host.c_str()) != 1 || SSL_connect(m_impl->ssl) != 1) {
      *error = "TLS handshake with " + parsed.host + " failed";
      m_impl->Release();
      return false;
    }
  }
  const std::string host = parsed.host.find(':') != std::string::npos ? "[" + parsed.host + "]" : parsed.host;
  const std::string request = "GET " + parsed.path + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(parsed.port) +
                              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  if (!m_impl->Write(request.data(), request.size())) {
    *error = "cannot send the upgrade request";
    m_impl->Release();
    return false;
  }
  // Read the answer head; anything after it already belongs to the first frames.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::string head;
  while (true) {
    const std::string seen(m_impl->buffer.begin(), m_impl->buffer.end());
    const auto end = seen.find("\r\n\r\n");
    if (end != std::string::npos) {
      head = seen.substr(0, end);
      m_impl->buffer.erase(m_impl->buffer.begin(), m_impl->buffer.begin() + static_cast<long>(end + 4));
      break;
    }
    if (std::chrono::steady_clock::now() > deadline || m_impl->buffer.size() > 16384 || !m_impl->Fill(200)) {
      *error = "no upgrade answer from " + parsed.host;
      m_impl->Release();
      return false;
    }
  }
  if (head.rfind("HTTP/1.1 101", 0) != 0) {
    *error = "upgrade refused: " + head.substr(0, head.find("\r\n"));
    m_impl->Release();
    return false;
  }
  return true;
}

bool WsClient::SendText(const std::string& text) {
  if (m_impl->socket == net::kInvalidSocket) return false;
  return m_impl->SendFrame(1, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

WsClient::ReadStatus WsClient::Read(WsMessage* message, int timeoutMs) {
  if (m_impl->socket == net::kInvalidSocket || m_impl->closed) return ReadStatus::kClosed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<std::uint8_t> payload;
  while (true) {
    int opcode = 0;
    bool fin = false;
    const int taken = m_impl->TakeFrame(&opcode, &fin, &payload);
    if (taken < 0) return ReadStatus::kClosed;
    if (taken > 0) {
      if (opcode == 8) {
        m_impl->closed = true;
        m_impl->SendFrame(8, nullptr, 0);
        return ReadStatus::kClosed;
      }
      if (opcode == 9) {
        m_impl->SendFrame(10, payload.data(), payload.size());
        continue;
      }
      if (opcode == 10) continue;
      if (opcode == 1 || opcode == 2) {
        m_impl->message.clear();
        m_impl->messageText = opcode == 1;
      }
      m_impl->message.insert(m_impl->message.end(), payload.begin(), payload.end());
      if (fin) {
        message->text = m_impl->messageText;
        message->data = std::move(m_impl->message);
        m_impl->message.clear();
        return ReadStatus::kMessage;
      }
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return ReadStatus::kTimeout;
    if (!m_impl->Fill(static_cast<int>(left.count()))) {
      m_impl->closed = true;
      return ReadStatus::kClosed;
    }
  }
}

void WsClient::Close() {
  if (m_impl->socket != net::kInvalidSocket && !m_impl->closed) m_impl->SendFrame(8, nullptr, 0);
  m_impl->Release();
}

}  // namespace play
