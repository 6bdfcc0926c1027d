#pragma once
// The connection table shared by the host (which inserts and erases on the server thread) and
// the protocol (lookups from the command thread and from IEvent callers).
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/net/Socket.h"
#include "service/protocol/Session.h"

struct SessionTable {
  std::mutex m_sessionsMutex;  // taken after m_commandMutex
  // Guarded by m_sessionsMutex. A session taken out of the table is destroyed outside the lock.
  std::map<platform::net::SocketHandle, std::unique_ptr<CSession>> m_sessions;
};

// Implemented by the host: queues one text frame on the session's connection, in order, and
// returns at once. false (nothing queued) when the connection is closed or its queue is full.
// Any thread.
class IConnectionWriter {
 public:
  virtual bool SendText(CSession& session, const std::string& text) = 0;
  virtual ~IConnectionWriter() = default;
};
