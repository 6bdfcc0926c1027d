#include "service/host/WsServer.h"

#include <cstdio>

#include "common/DebugLog.h"
#include "platform/system/Clock.h"
#include "platform/system/Terminate.h"
#include "platform/timer/PeriodicTimer.h"
#include "service/host/WsFrame.h"

namespace {

constexpr int kReplyWriteTimeoutMs = 3000;
constexpr int kStatusStartupFailed = 1;

std::uint64_t MonotonicSeconds() { return platform::system::MonotonicMilliseconds() / 1000 + 1; }

}  // namespace

bool IsLoopStalled(std::uint64_t nowSeconds, std::uint64_t lastLoopSeconds, bool dialogOpen) {
  return !dialogOpen && lastLoopSeconds != 0 && nowSeconds >= lastLoopSeconds &&
         nowSeconds - lastLoopSeconds >= static_cast<std::uint64_t>(WsServer::kHangSeconds);
}

WsServer::WsServer() = default;

WsServer::~WsServer() {
  m_stop = true;
  if (m_queue) m_queue->Close();
  if (m_commandThread.joinable()) m_commandThread.join();
  CloseAll();
}

void WsServer::Stop() {
  m_stop = true;
  m_waker.Wake();
}

void WsServer::StampHeartbeat() { m_lastLoopTime = MonotonicSeconds(); }

void WsServer::HangCheck() {
  // A wall-clock step must not look like a stall, so the heartbeat runs on the monotonic clock.
  if (IsLoopStalled(MonotonicSeconds(), m_lastLoopTime, m_dialogOpen)) {
    platform::system::TerminateSelf(kStatusHung);
  }
}

void WsServer::Run() {
  if (!platform::net::NetStartup()) {
    std::printf("WSAStartup function failed with error: %d\n", platform::net::LastErrorCode());
    m_exitStatus = kStatusStartupFailed;
    return;
  }
  if (InitServer() == -1) {
    DebugLog("InitServer() failed.");
    platform::net::NetCleanup();
    m_exitStatus = kStatusStartupFailed;
    return;
  }
  if (InitSSLServer() == -1) {
    DebugLog("InitSSLServer() failed.");
    platform::net::NetCleanup();
    m_exitStatus = kStatusStartupFailed;
    return;
  }
  platform::timer::TimerId hangTimer = platform::timer::StartPeriodicTimer(kHangCheckMs, [this] { HangCheck(); });
  platform::timer::TimerId resourceTimer = 0;
  if (m_resourceCheck) resourceTimer = platform::timer::StartPeriodicTimer(kHangCheckMs, m_resourceCheck);
  m_queue = std::make_unique<MessageQueue>();
  m_commandThread = std::thread([this] { CommandLoop(); });

  ServeConnections();

  platform::timer::KillTimer(hangTimer);
  if (resourceTimer) platform::timer::KillTimer(resourceTimer);
  m_queue->Close();
  m_commandThread.join();
  CloseAll();
  platform::net::NetCleanup();
}

void WsServer::CommandLoop() {
  while (std::optional<InboundMessage> message = m_queue->Pop()) {
    std::string reply;
    std::shared_ptr<Connection> connection;
    {
      std::lock_guard<std::mutex> command(m_commandMutex);
      // The connection may have closed, and its descriptor gone to a newer one, since the read.
      if (!SessionMatches(message->socket, message->serial)) continue;
      reply = m_dispatcher->ExecuteCommand(message->socket, message->id, message->text);
      if (!reply.empty()) connection = FindConnection(message->socket, message->serial);
    }
    if (connection && !WriteAll(*connection, BuildTextFrame(reply), kReplyWriteTimeoutMs)) m_waker.Wake();
  }
}

bool WsServer::SendText(CSession& session, const std::string& text) {
  if (session.m_closed) return false;
  std::shared_ptr<Connection> connection = FindConnection(session.m_socket, session.m_serial);
  if (!connection || connection->stage != Connection::Stage::kFrames) return false;
  if (WriteAll(*connection, BuildTextFrame(text), kReplyWriteTimeoutMs)) return true;
  m_waker.Wake();
  return false;
}

std::shared_ptr<Connection> WsServer::FindConnection(platform::net::SocketHandle socket, std::uint64_t serial) {
  std::lock_guard<std::mutex> lock(m_connectionsMutex);
  auto it = m_connections.find(socket);
  if (it == m_connections.end() || it->second->serial != serial || it->second->closed) return nullptr;
  return it->second;
}

bool WsServer::SessionMatches(platform::net::SocketHandle socket, std::uint64_t serial) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  auto it = m_sessions.m_sessions.find(socket);
  return it != m_sessions.m_sessions.end() && it->second->m_serial == serial;
}
