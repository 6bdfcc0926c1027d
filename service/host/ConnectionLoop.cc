#include <openssl/ssl.h>

#include <algorithm>
#include <cstdio>

#include "common/DebugLog.h"
#include "common/GuidText.h"
#include "platform/system/Clock.h"
#include "service/host/HttpRequest.h"
#include "service/host/WsServer.h"

using platform::net::kInvalidSocket;
using platform::net::PollEntry;
using platform::net::SocketHandle;

namespace {

constexpr int kMaxWaitMs = 1000;              // the heartbeat is stamped at least this often
constexpr std::uint64_t kFirstRequestMs = 10000;  // handshake plus first request
constexpr std::size_t kMaxRequestBytes = 16u << 20;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kReadPerPass = 1u << 20;  // then the others get their turn
constexpr int kAnswerWriteTimeoutMs = 3000;
constexpr int kMaxAcceptsPerPass = 64;

std::uint64_t NowMs() { return platform::system::MonotonicMilliseconds(); }

}  // namespace

void WsServer::ServeConnections() {
  const SocketHandle listeners[] = {m_sock, m_sock_ipv6, m_sock_ssl, m_sock_ssl_ipv6};
  const bool listenerTls[] = {false, false, true, true};
  std::vector<PollEntry> entries;
  std::vector<Watched> watched;
  while (!m_stop) {
    StampHeartbeat();
    entries.clear();
    watched.clear();
    auto add = [&](SocketHandle s, std::uint64_t serial, bool wantWrite) {
      PollEntry e;
      e.socket = s;
      e.wantWrite = wantWrite;
      entries.push_back(e);
      watched.push_back({s, serial});
    };
    add(m_waker.Handle(), 0, false);
    for (SocketHandle s : listeners) {
      if (s != kInvalidSocket) add(s, 0, false);
    }
    bool readAgain = false;
    for (auto& [socket, connection] : m_connections) {
      add(socket, connection->serial, connection->wantWrite);
      readAgain = readAgain || connection->readAgain || connection->broken;
    }
    int ready = platform::net::Poll(entries, readAgain ? 0 : NextTimeoutMs(NowMs()));
    if (ready < 0) {
      std::printf("Select failed with error: %d\n", platform::net::LastErrorCode());
      break;
    }
    StampHeartbeat();
    if (entries[0].readable) m_waker.Drain();
    for (std::size_t i = 1; i < entries.size() && !m_stop; ++i) {
      if (watched[i].serial == 0) {
        if (entries[i].readable) {
          std::size_t which = std::find(std::begin(listeners), std::end(listeners), watched[i].socket) - listeners;
          AcceptClients(watched[i].socket, listenerTls[which]);
        }
        continue;
      }
      auto it = m_connections.find(watched[i].socket);
      if (it == m_connections.end() || it->second->serial != watched[i].serial) continue;
      std::shared_ptr<Connection> connection = it->second;
      bool due = entries[i].readable || entries[i].writable || connection->readAgain || connection->broken ||
                 (connection->stage != Connection::Stage::kFrames && NowMs() >= connection->deadlineMs);
      if (due) Service(connection);
    }
  }
}

int WsServer::NextTimeoutMs(std::uint64_t nowMs) const {
  std::uint64_t wait = kMaxWaitMs;
  for (const auto& entry : m_connections) {
    const Connection& c = *entry.second;
    if (c.stage == Connection::Stage::kFrames) continue;
    wait = std::min<std::uint64_t>(wait, c.deadlineMs > nowMs ? c.deadlineMs - nowMs : 0);
  }
  return static_cast<int>(wait);
}

void WsServer::AcceptClients(SocketHandle listener, bool tls) {
  for (int i = 0; i < kMaxAcceptsPerPass; ++i) {
    if (AcceptClient(listener, tls) == kInvalidSocket) break;
  }
}

SocketHandle WsServer::AcceptClient(SocketHandle listener, bool tls) {
  SocketHandle s = platform::net::Accept(listener);
  if (s == kInvalidSocket) return kInvalidSocket;
  if (!platform::net::SetNonBlocking(s, true)) {
    platform::net::CloseSocket(s);
    return kInvalidSocket;
  }
  platform::net::SetNoDelay(s, true);
  SSL* ssl = nullptr;
  if (tls) {
    ssl = SSL_new(m_sslCtx);
    if (!ssl || SSL_set_fd(ssl, static_cast<int>(s)) != 1) {
      if (ssl) SSL_free(ssl);
      platform::net::CloseSocket(s);
      return kInvalidSocket;
    }
  }
  auto connection = std::make_shared<Connection>(s, m_nextSerial++, ssl);
  connection->deadlineMs = NowMs() + kFirstRequestMs;
  auto session = std::make_unique<CSession>();
  session->m_ssl = ssl;
  session->m_socket = s;
  session->m_serial = connection->serial;
  {
    std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
    m_sessions.m_sessions[s] = std::move(session);
  }
  {
    std::lock_guard<std::mutex> lock(m_connectionsMutex);
    m_connections[s] = connection;
  }
  return s;
}

void WsServer::Service(const std::shared_ptr<Connection>& connection) {
  Connection& c = *connection;
  if (c.broken) {
    Close(connection, true);
    return;
  }
  if (c.stage != Connection::Stage::kFrames && NowMs() >= c.deadlineMs) {
    Close(connection, false);
    return;
  }
  bool ok = true;
  if (c.stage == Connection::Stage::kHandshake) ok = ContinueHandshake(c);
  if (ok && c.stage == Connection::Stage::kRequest) ok = ReadRequest(c);
  if (ok && c.stage == Connection::Stage::kFrames) ok = ReadFrames(c);
  // Once frames were queued, a command of this session may be running.
  if (!ok) Close(connection, c.stage == Connection::Stage::kFrames);
}

bool WsServer::ContinueHandshake(Connection& c) {
  std::lock_guard<std::mutex> lock(c.sslMutex);
  int result = SSL_accept(c.ssl);
  if (result == 1) {
    c.wantWrite = false;
    c.stage = Connection::Stage::kRequest;
    return true;
  }
  int error = SSL_get_error(c.ssl, result);
  c.wantWrite = error == SSL_ERROR_WANT_WRITE;
  return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
}

// Reads until the first request is whole, then answers it. false: close without an answer.
bool WsServer::ReadRequest(Connection& c) {
  std::uint8_t buffer[kReadChunk];
  for (;;) {
    std::size_t got = 0;
    ReadStatus status = ReadSome(c, buffer, sizeof buffer, got);
    if (status == ReadStatus::kClosed) return false;
    if (status == ReadStatus::kWouldBlock) break;
    c.request.append(reinterpret_cast<const char*>(buffer), got);
    if (c.request.size() > kMaxRequestBytes) return false;
  }
  std::size_t length = CompleteRequestLength(c.request);
  if (length == 0) return true;
  std::string answer = AnswerHttpRequest(c.request.substr(0, length), m_http);
  if (answer.empty() || !WriteAll(c, answer, kAnswerWriteTimeoutMs)) return false;
  // Bytes behind the request are the first frames.
  std::string rest = c.request.substr(length);
  c.request.clear();
  c.request.shrink_to_fit();
  c.stage = Connection::Stage::kFrames;
  c.readAgain = !rest.empty();
  CSession* session = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
    auto it = m_sessions.m_sessions.find(c.socket);
    if (it != m_sessions.m_sessions.end()) session = it->second.get();
  }
  if (session) session->m_bUpgraded = true;
  std::vector<std::string> texts;
  if (!c.frames.Feed(reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size(), texts)) return false;
  return QueueTexts(c, texts);
}

bool WsServer::ReadFrames(Connection& c) {
  c.readAgain = false;
  std::uint8_t buffer[kReadChunk];
  std::size_t total = 0;
  std::vector<std::string> texts;
  while (total < kReadPerPass) {
    std::size_t got = 0;
    ReadStatus status = ReadSome(c, buffer, sizeof buffer, got);
    if (status == ReadStatus::kClosed) return false;
    if (status == ReadStatus::kWouldBlock) break;
    total += got;
    if (!c.frames.Feed(buffer, got, texts)) return false;
    if (!QueueTexts(c, texts)) return false;
    texts.clear();
  }
  c.readAgain = total >= kReadPerPass;
  return true;
}

bool WsServer::QueueTexts(Connection& c, std::vector<std::string>& texts) {
  if (texts.empty()) return true;
  std::string id;
  {
    std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
    auto it = m_sessions.m_sessions.find(c.socket);
    if (it == m_sessions.m_sessions.end()) return false;
    if (it->second->m_strId.empty()) it->second->m_strId = MakeGuidText();
    id = it->second->m_strId;
  }
  for (std::string& text : texts) {
    StampHeartbeat();
    if (!m_queue->Push(InboundMessage{c.socket, c.serial, id, std::move(text)})) return false;
  }
  return true;
}

void WsServer::Close(const std::shared_ptr<Connection>& connection, bool withCommandLock) {
  // No command may run on a session that is going away.
  std::unique_lock<std::mutex> command(m_commandMutex, std::defer_lock);
  if (withCommandLock) command.lock();
  std::unique_ptr<CSession> session;
  {
    std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
    auto it = m_sessions.m_sessions.find(connection->socket);
    if (it != m_sessions.m_sessions.end() && it->second->m_serial == connection->serial) {
      session = std::move(it->second);
      m_sessions.m_sessions.erase(it);
    }
  }
  connection->closed = true;
  if (session) {
    session->m_closed = true;
    session->m_ssl = nullptr;  // the connection owns it
    session.reset();  // outside the lock: its group's and channels' threads may be waiting for it
  }
  {
    std::lock_guard<std::mutex> lock(m_connectionsMutex);
    m_connections.erase(connection->socket);
  }
}

void WsServer::CloseAll() {
  while (!m_connections.empty()) Close(m_connections.begin()->second, true);
  for (SocketHandle* s : {&m_sock, &m_sock_ipv6, &m_sock_ssl, &m_sock_ssl_ipv6}) {
    if (*s != kInvalidSocket) platform::net::CloseSocket(*s);
    *s = kInvalidSocket;
  }
  if (m_sslCtx) SSL_CTX_free(m_sslCtx);
  m_sslCtx = nullptr;
}
