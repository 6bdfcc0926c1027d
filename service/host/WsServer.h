#pragma once
// The service's server: four loopback listeners, the connection loop, the command thread and
// the hang check. Threads: Run and everything it calls on the server thread; CommandLoop on the
// command thread; HangCheck on the timer thread; SendText and Stop on any thread. Only the server
// thread touches sockets: replies and notices wait in each connection's outgoing queue.
// Locks: m_commandMutex before m_sessions.m_sessionsMutex before m_connectionsMutex before a
// connection's outgoing queue; the message queue's mutex is innermost.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"
#include "service/host/Connection.h"
#include "service/host/HttpAnswer.h"
#include "service/host/MessageQueue.h"
#include "service/protocol/CommandDispatcher.h"
#include "service/protocol/SessionTable.h"

typedef struct ssl_ctx_st SSL_CTX;

// The hang check's verdict: the loop's heartbeat (0 = not started) is 20 s old and no folder
// dialog holds the command thread.
bool IsLoopStalled(std::uint64_t nowSeconds, std::uint64_t lastLoopSeconds, bool dialogOpen);

class WsServer : public IConnectionWriter {
 public:
  static constexpr int kHangCheckMs = 2000;
  static constexpr int kHangSeconds = 20;
  static constexpr int kStatusHung = 255;

  WsServer();
  ~WsServer() override;

  // Body of the server thread; returns when serving ends. ExitStatus() then tells why.
  void Run();
  int ExitStatus() const { return m_exitStatus; }
  // Ends the connection loop from any thread.
  void Stop();
  // The service's wiring hands these over before Run.
  void SetDispatcher(CommandDispatcher* dispatcher) { m_dispatcher = dispatcher; }
  void SetHttpServices(HttpServices http) { m_http = std::move(http); }
  // Called every 2 s on the timer thread once serving starts (the resource guard's place).
  void SetResourceCheck(std::function<void()> check) { m_resourceCheck = std::move(check); }
  SessionTable& Sessions() { return m_sessions; }
  std::atomic<bool>& DialogOpen() { return m_dialogOpen; }
  // Any thread: queues one text frame for the loop to write and returns at once. false when the
  // connection has closed or its queue passed its bound (nothing is queued then).
  bool SendText(CSession& session, const std::string& text) override;

  int InitServer();
  int InitSSLServer();
  // Binds a listener: IPv4 probes ports start..start+9, IPv6 takes exactly `start`. Port or -1.
  int BindLoopback(platform::net::SocketHandle socket, int start, bool ipv6);
  void HangCheck();

 private:
  struct Watched {
    platform::net::SocketHandle socket;
    std::uint64_t serial;  // 0 for the waker and listeners
  };

  // The IPv4 listener on the first free port from ServicePortStart, then its IPv6 twin.
  int OpenListenerPair(platform::net::SocketHandle& ipv4, platform::net::SocketHandle& ipv6, const char* name,
                       const char* ipv6Name);
  // The TLS server context with the certificate and its key; 0 or -1.
  int SetUpTlsContext();
  void ServeConnections();
  // One wait and what it found ready; -1 when the wait itself failed.
  int ServePass(std::vector<platform::net::PollEntry>& entries, std::vector<Watched>& watched);
  void AcceptClients(platform::net::SocketHandle listener, bool tls);
  platform::net::AcceptStatus AcceptClient(platform::net::SocketHandle listener, bool tls);
  void BackOffListeners(platform::net::SocketHandle listener);
  void Service(const std::shared_ptr<Connection>& connection);
  // false: close the connection.
  bool ServiceConnection(Connection& connection);
  bool ReadRequest(Connection& connection);
  bool ReadFrames(Connection& connection);
  bool FeedFrames(Connection& connection, const std::uint8_t* data, std::size_t size);
  bool QueueTexts(Connection& connection, std::vector<std::string>& texts);
  // Any thread: queues bytes for the loop to write and wakes it. false when they were refused.
  bool Enqueue(Connection& connection, std::string bytes, bool unbounded = false);
  void AccountInput(Connection& connection);
  void DropLargestInputs();
  void Close(const std::shared_ptr<Connection>& connection, bool withCommandLock);
  void CloseAll();
  void CommandLoop();
  void RunCommand(const InboundMessage& message);
  std::shared_ptr<Connection> FindConnection(platform::net::SocketHandle socket, std::uint64_t serial);
  bool SessionMatches(platform::net::SocketHandle socket, std::uint64_t serial);
  void StampHeartbeat();

  platform::net::SocketHandle m_sock = platform::net::kInvalidSocket;
  platform::net::SocketHandle m_sock_ssl = platform::net::kInvalidSocket;
  platform::net::SocketHandle m_sock_ipv6 = platform::net::kInvalidSocket;
  platform::net::SocketHandle m_sock_ssl_ipv6 = platform::net::kInvalidSocket;
  SessionTable m_sessions;  // CSession per socket; inserted and erased by the server thread
  SSL_CTX* m_sslCtx = nullptr;
  std::atomic<bool> m_stop{false};
  std::atomic<std::uint64_t> m_lastLoopTime{0};  // monotonic seconds, written by the server thread
  std::atomic<bool> m_dialogOpen{false};         // written by the command thread
  std::unique_ptr<MessageQueue> m_queue;
  std::thread m_commandThread;
  std::mutex m_commandMutex;  // held while one command executes and while a connection goes away

  std::mutex m_connectionsMutex;  // guards changes of m_connections; the server thread reads freely
  std::map<platform::net::SocketHandle, std::shared_ptr<Connection>> m_connections;
  std::uint64_t m_nextSerial = 1;  // server thread
  std::size_t m_inputBytes = 0;    // server thread: unfinished input held by all connections
  std::uint64_t m_listenersPausedUntilMs = 0;  // server thread: out of descriptors until then
  std::uint64_t m_descriptorsLoggedMs = 0;     // server thread
  platform::net::PollWaker m_waker;
  CommandDispatcher* m_dispatcher = nullptr;  // owned by the wiring
  HttpServices m_http;
  std::function<void()> m_resourceCheck;
  int m_exitStatus = 0;
};
