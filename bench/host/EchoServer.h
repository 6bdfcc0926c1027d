#pragma once
// The reference for the host bench: a minimal WebSocket echo over the same loopback sockets,
// one thread per connection, answering each text frame with the same text.
#include <atomic>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"

class EchoServer {
 public:
  EchoServer();
  ~EchoServer();
  int Port() const { return m_port; }

 private:
  void AcceptLoop();
  static void Serve(platform::net::SocketHandle s);

  platform::net::SocketHandle m_listener = platform::net::kInvalidSocket;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_acceptor;
  std::vector<std::thread> m_workers;
};
