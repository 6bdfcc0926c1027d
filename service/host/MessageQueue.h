#pragma once
// Bounded queue between the server thread (the only pusher) and the command thread (the only
// popper). Its mutex is the innermost lock.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "platform/net/Socket.h"

struct InboundMessage {
  platform::net::SocketHandle socket = platform::net::kInvalidSocket;
  std::uint64_t serial = 0;  // the connection the frame came from; a reused descriptor differs
  std::string id;
  std::string text;
};

class MessageQueue {
 public:
  static constexpr std::size_t kCapacity = 50;

  // Waits while the queue is full. Returns false (and drops the message) once closed.
  bool Push(InboundMessage message);
  // Waits for a message; none once the queue is closed.
  std::optional<InboundMessage> Pop();
  // Wakes every waiter; later pushes and pops fail.
  void Close();
  std::size_t Size();

 private:
  std::mutex m_mutex;
  std::condition_variable m_notEmpty;
  std::condition_variable m_notFull;
  std::deque<InboundMessage> m_messages;  // guarded by m_mutex
  bool m_closed = false;                  // guarded by m_mutex
};
