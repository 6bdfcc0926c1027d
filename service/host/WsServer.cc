#include "service/host/WsServer.h"

#include <cstdio>
#include <exception>

#include "common/DebugLog.h"
#include "platform/system/Clock.h"
#include "platform/system/Terminate.h"
#include "platform/timer/PeriodicTimer.h"
#include "service/host/WsFrame.h"

namespace {

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
    bool failed = true;
    try {
      RunCommand(*message);
      failed = false;
    } catch (const std::exception& e) {
      DebugLog("Command failed: %s", e.what());
    } catch (...) {
      DebugLog("Command failed.");
    }
    // The page whose command failed loses its connection; the others go on.
    if (failed) {
      if (std::shared_ptr<Connection> connection = FindConnection(message->socket, message->serial)) {
        connection->broken = true;
        m_waker.Wake();
      }
    }
  }
}

void WsServer::RunCommand(const InboundMessage& message) {
  std::string reply;
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard<std::mutex> command(m_commandMutex);
    // The connection may have closed, and its descriptor gone to a newer one, since the read.
    if (!SessionMatches(message.socket, message.serial)) return;
    connection = FindConnection(message.socket, message.serial);
    reply = m_dispatcher->ExecuteCommand(message.socket, message.id, message.text);
  }
  if (connection && !reply.empty()) Enqueue(*connection, BuildTextFrame(reply));
}

bool WsServer::SendText(CSession& session, const std::string& text) {
  if (session.m_closed) return false;
  std::shared_ptr<Connection> connection = FindConnection(session.m_socket, session.m_serial);
  if (!connection || connection->stage != Connection::Stage::kFrames) return false;
  return Enqueue(*connection, BuildTextFrame(text));
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
