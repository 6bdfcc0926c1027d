// What the server thread does with one connection when it is ready or due: the TLS handshake,
// the first request and its answer, frames, writing what is queued, and closing.
#include <openssl/ssl.h>

#include <exception>

#include "common/DebugLog.h"
#include "common/GuidText.h"
#include "platform/system/Clock.h"
#include "service/host/HttpRequest.h"
#include "service/host/WsServer.h"

using platform::net::kInvalidSocket;
using platform::net::SocketHandle;
using Stage = Connection::Stage;

namespace {

constexpr std::size_t kMaxRequestBytes = 16u << 20;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kReadPerPass = 1u << 20;  // then the others get their turn
// Frames are read in smaller turns: each becomes a command that the server thread may wait to
// hand over, and a flooding page must not hold a pass (and others' replies) for long.
constexpr std::size_t kFrameBytesPerPass = 64 * 1024;
// After an answer, what the peer still sends is read and dropped this long, so that closing with
// unread bytes does not reset the connection before the peer has read the answer.
constexpr std::uint64_t kDrainMs = 2000;

std::uint64_t NowMs() { return platform::system::MonotonicMilliseconds(); }

bool IsUpgradeAnswer(const std::string& answer) { return answer.compare(0, 12, "HTTP/1.1 101") == 0; }

}  // namespace

void WsServer::Service(const std::shared_ptr<Connection>& connection) {
  Connection& c = *connection;
  bool ok = false;
  try {
    ok = ServiceConnection(c);
  } catch (const std::exception& e) {
    DebugLog("Connection failed: %s", e.what());
  } catch (...) {
    DebugLog("Connection failed.");
  }
  // Once frames were queued, a command of this session may be running.
  if (!ok) {
    Close(connection, c.stage == Stage::kFrames);
    return;
  }
  AccountInput(c);
}

bool WsServer::ServiceConnection(Connection& c) {
  if (c.broken) return false;
  // Written before the deadlines are looked at: a busy loop, not the peer, may have held the
  // queue since it filled.
  if (FlushOutgoing(c, NowMs()) == FlushStatus::kFailed) return false;
  std::uint64_t now = NowMs();
  if (now >= c.NextDeadlineMs()) {
    if (c.outgoing.StalledSinceMs() != 0 && now >= c.outgoing.StalledSinceMs() + kStalledWriteMs) {
      DebugLog("A connection did not take what it was sent for %llu ms: closing it.",
               static_cast<unsigned long long>(kStalledWriteMs));
    }
    return false;
  }
  if (c.stage == Stage::kHandshake) {
    int result = ContinueTlsHandshake(c);
    if (result < 0) return false;
    if (result == 1) c.stage = Stage::kRequest;
  }
  bool ok = true;
  switch (c.stage.load()) {
    case Stage::kRequest:
      ok = ReadRequest(c);
      break;
    case Stage::kFrames:
      ok = ReadFrames(c);
      break;
    case Stage::kDraining:
      ok = DiscardInput(c, kReadPerPass);
      break;
    default:
      break;
  }
  if (!ok || FlushOutgoing(c, NowMs()) == FlushStatus::kFailed) return false;
  if (c.stage == Stage::kAnswered && c.outgoing.Empty()) {
    EndStream(c);
    c.stage = Stage::kDraining;
    c.deadlineMs = NowMs() + kDrainMs;
  }
  return true;
}

// Reads until the first request is whole, then queues its answer. false: close without one.
bool WsServer::ReadRequest(Connection& c) {
  std::uint8_t buffer[kReadChunk];
  std::size_t total = 0;
  c.readAgain = false;
  while (total < kReadPerPass) {
    std::size_t got = 0;
    ReadStatus status = ReadSome(c, buffer, sizeof buffer, got);
    if (status == ReadStatus::kClosed) return false;
    if (status == ReadStatus::kWouldBlock) break;
    c.request.append(reinterpret_cast<const char*>(buffer), got);
    total += got;
    if (c.request.size() > kMaxRequestBytes) return false;
  }
  c.readAgain = total >= kReadPerPass;
  std::size_t length = CompleteRequestLength(c.request);
  if (length == 0) return true;
  std::string answer = AnswerHttpRequest(c.request.substr(0, length), m_http);
  if (answer.empty()) return false;
  bool upgrade = IsUpgradeAnswer(answer);
  // Bytes behind an upgrade request are the first frames.
  std::string rest = upgrade ? c.request.substr(length) : std::string();
  std::string().swap(c.request);
  c.readAgain = false;
  // The answer is already held whole: it may pass the queue's bound.
  if (!Enqueue(c, std::move(answer), true)) return false;
  if (!upgrade) {
    // Only an upgraded connection is a page session: this one ends once its answer is out.
    c.stage = Stage::kAnswered;
    return true;
  }
  c.stage = Stage::kFrames;
  {
    std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
    auto it = m_sessions.m_sessions.find(c.socket);
    if (it != m_sessions.m_sessions.end()) it->second->m_bUpgraded = true;
  }
  return FeedFrames(c, reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size());
}

bool WsServer::ReadFrames(Connection& c) {
  c.readAgain = false;
  std::uint8_t buffer[kFrameBytesPerPass];
  std::size_t total = 0;
  while (total < kFrameBytesPerPass) {
    std::size_t got = 0;
    ReadStatus status = ReadSome(c, buffer, kFrameBytesPerPass - total, got);
    if (status == ReadStatus::kClosed) return false;
    if (status == ReadStatus::kWouldBlock) break;
    total += got;
    if (!FeedFrames(c, buffer, got)) return false;
  }
  c.readAgain = total >= kFrameBytesPerPass;
  return true;
}

bool WsServer::FeedFrames(Connection& c, const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> texts;
  if (!c.frames.Feed(data, size, texts)) return false;
  // An unfinished frame has as long as an unfinished request, counted from its first byte.
  if (c.frames.Buffered() == 0) {
    c.partialFrameSinceMs = 0;
  } else if (!texts.empty() || c.partialFrameSinceMs == 0) {
    c.partialFrameSinceMs = NowMs();
  }
  // A close frame ends the connection, and with it the page's session, once the texts before it
  // are queued.
  return QueueTexts(c, texts) && !c.frames.CloseSeen();
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

bool WsServer::Enqueue(Connection& c, std::string bytes, bool unbounded) {
  OutgoingQueue::PushResult result = c.outgoing.Push(std::move(bytes), NowMs(), unbounded);
  if (result == OutgoingQueue::PushResult::kOverflow) {
    DebugLog("A connection's outgoing queue passed %zu bytes: closing it.", OutgoingQueue::kDefaultLimit);
    c.broken = true;
  }
  m_waker.Wake();
  return result == OutgoingQueue::PushResult::kQueued;
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
  connection->outgoing.Close();
  m_inputBytes -= connection->accountedInput;
  connection->accountedInput = 0;
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
