// The server thread's loop: one poll over the waker, the listeners and every connection, accepts,
// and the bounds that hold across connections.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "common/DebugLog.h"
#include "platform/net/SocketNative.h"
#include "platform/system/Clock.h"
#include "service/host/WsServer.h"

using platform::net::AcceptStatus;
using platform::net::kInvalidSocket;
using platform::net::PollEntry;
using platform::net::SocketHandle;

namespace {

constexpr int kMaxWaitMs = 1000;  // the heartbeat is stamped at least this often
constexpr std::uint64_t kFirstRequestMs = kUnfinishedInputMs;
constexpr int kMaxAcceptsPerPass = 64;
// Out of descriptors, the listeners rest this long (instead of waking the loop at once again).
constexpr std::uint64_t kAcceptBackOffMs = 200;
constexpr std::uint64_t kDescriptorLogEveryMs = 10000;
// Unfinished requests and frames of all connections together.
constexpr std::size_t kMaxInputBytes = 64u << 20;

std::uint64_t NowMs() { return platform::system::MonotonicMilliseconds(); }

}  // namespace

void WsServer::ServeConnections() {
  std::vector<PollEntry> entries;
  std::vector<Watched> watched;
  while (!m_stop) {
    int ready = 0;
    try {
      ready = ServePass(entries, watched);
    } catch (const std::exception& e) {
      DebugLog("Connection loop failed: %s", e.what());
    } catch (...) {
      DebugLog("Connection loop failed.");
    }
    if (ready < 0) {
      std::printf("Select failed with error: %d\n", platform::net::LastErrorCode());
      break;
    }
  }
}

int WsServer::ServePass(std::vector<PollEntry>& entries, std::vector<Watched>& watched) {
  const SocketHandle listeners[] = {m_sock, m_sock_ipv6, m_sock_ssl, m_sock_ssl_ipv6};
  const bool listenerTls[] = {false, false, true, true};
  StampHeartbeat();
  std::uint64_t now = NowMs();
  entries.clear();
  watched.clear();
  auto add = [&](SocketHandle s, std::uint64_t serial, bool wantRead, bool wantWrite) {
    PollEntry e;
    e.socket = s;
    e.wantRead = wantRead;
    e.wantWrite = wantWrite;
    entries.push_back(e);
    watched.push_back({s, serial});
  };
  add(m_waker.Handle(), 0, true, false);
  std::uint64_t wakeAt = now + kMaxWaitMs;
  if (now >= m_listenersPausedUntilMs) {
    for (SocketHandle s : listeners) {
      if (s != kInvalidSocket) add(s, 0, true, false);
    }
  } else {
    wakeAt = std::min(wakeAt, m_listenersPausedUntilMs);
  }
  bool immediate = false;
  for (auto& [socket, connection] : m_connections) {
    Connection& c = *connection;
    bool pending = !c.outgoing.Empty();
    bool wantWrite = c.readWantsWrite || (pending && !c.writeWantsRead);
    // An answered request is not read any more; a TLS write may still need the peer's records.
    bool wantRead = c.stage != Connection::Stage::kAnswered || c.writeWantsRead;
    add(socket, c.serial, wantRead, wantWrite);
    immediate = immediate || c.readAgain || c.broken || (pending && !c.writeBlocked && !c.writeWantsRead);
    wakeAt = std::min(wakeAt, c.NextDeadlineMs());
  }
  int timeout = immediate ? 0 : static_cast<int>(wakeAt > now ? wakeAt - now : 0);
  int ready = platform::net::Poll(entries, timeout);
  if (ready < 0) return -1;
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
    Connection& c = *connection;
    if (entries[i].writable) c.writeBlocked = false;
    bool pending = !c.outgoing.Empty() && !c.writeBlocked && !c.writeWantsRead;
    bool due = entries[i].readable || entries[i].writable || c.readAgain || c.broken || pending ||
               NowMs() >= c.NextDeadlineMs();
    if (due) Service(connection);
  }
  return ready;
}

void WsServer::AcceptClients(SocketHandle listener, bool tls) {
  for (int i = 0; i < kMaxAcceptsPerPass; ++i) {
    AcceptStatus status = AcceptClient(listener, tls);
    if (status == AcceptStatus::kNoDescriptors) {
      BackOffListeners(listener);
      return;
    }
    if (status != AcceptStatus::kAccepted) return;
  }
}

// Out of descriptors, the pending connection stays readable on the listener: polling it again at
// once would spin. One pending connection is refused, and the listeners rest for a moment.
void WsServer::BackOffListeners(SocketHandle listener) {
  std::uint64_t now = NowMs();
  if (m_descriptorsLoggedMs == 0 || now - m_descriptorsLoggedMs >= kDescriptorLogEveryMs) {
    DebugLog("Out of descriptors: new connections are refused until some are free.");
    m_descriptorsLoggedMs = now;
  }
  platform::net::DropPending(listener);
  m_listenersPausedUntilMs = now + kAcceptBackOffMs;
}

AcceptStatus WsServer::AcceptClient(SocketHandle listener, bool tls) {
  platform::net::AcceptResult accepted = platform::net::AcceptPending(listener);
  if (accepted.status != AcceptStatus::kAccepted) return accepted.status;
  SocketHandle s = accepted.socket;
  if (!platform::net::SetNonBlocking(s, true)) {
    platform::net::CloseSocket(s);
    return AcceptStatus::kFailed;
  }
  platform::net::SetNoDelay(s, true);
  SSL* ssl = nullptr;
  if (tls) {
    ERR_clear_error();
    ssl = SSL_new(m_sslCtx);
    if (!ssl || SSL_set_fd(ssl, platform::net::NativeDescriptor(s)) != 1) {
      ERR_clear_error();
      if (ssl) SSL_free(ssl);
      platform::net::CloseSocket(s);
      return AcceptStatus::kFailed;
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
  return AcceptStatus::kAccepted;
}

void WsServer::AccountInput(Connection& c) {
  std::size_t held = c.InputHeld();
  m_inputBytes = m_inputBytes - c.accountedInput + held;
  c.accountedInput = held;
  if (m_inputBytes > kMaxInputBytes) DropLargestInputs();
}

// Past the total, the connections holding the most unfinished input go first: one page cannot
// grow the process by sending requests or frames that it never finishes.
void WsServer::DropLargestInputs() {
  std::vector<std::shared_ptr<Connection>> holders;
  for (const auto& entry : m_connections) {
    if (entry.second->accountedInput > 0) holders.push_back(entry.second);
  }
  std::sort(holders.begin(), holders.end(),
            [](const auto& a, const auto& b) { return a->accountedInput > b->accountedInput; });
  for (const std::shared_ptr<Connection>& c : holders) {
    if (m_inputBytes <= kMaxInputBytes) break;
    DebugLog("Unfinished input of all connections passed %zu bytes: closing one holding %zu.", kMaxInputBytes,
             c->accountedInput);
    Close(c, c->stage == Connection::Stage::kFrames);
  }
}
