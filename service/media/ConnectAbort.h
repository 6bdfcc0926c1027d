#pragma once
// Lets a stop from another thread end a connection attempt that is still connecting or waiting
// for the source's upgrade answer: the attempt's blocking reads and writes return at once.
// Threads: Watch on the client thread; Abort on any thread.
#include <mutex>

#include "platform/net/Socket.h"

namespace easywsclient {

class ConnectAbort {
 public:
  // Names the socket of the attempt in progress (kInvalidSocket when it is over); false when an
  // abort came first, and the attempt must give up.
  bool Watch(platform::net::SocketHandle socket);
  // Shuts the watched socket down and refuses every later Watch.
  void Abort();

 private:
  std::mutex m_mutex;
  platform::net::SocketHandle m_socket = platform::net::kInvalidSocket;  // m_mutex
  bool m_aborted = false;                                                // m_mutex
};

}  // namespace easywsclient
