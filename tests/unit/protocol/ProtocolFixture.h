#pragma once
// Sessions without sockets: a connection table holding sessions and a writer that records what
// would have been sent.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "service/protocol/SessionTable.h"
#include "tests/support/TempFolder.h"

class RecordingWriter : public IConnectionWriter {
 public:
  struct Sent {
    std::string uuid;
    std::string text;
  };
  bool SendText(CSession& session, const std::string& text) override {
    if (session.m_closed) return false;
    m_sent.push_back({session.m_strId, text});
    return true;
  }
  std::vector<Sent> m_sent;
};

// A connection table of sessions that need no connection.
class SessionsHolder {
 public:
  CSession& Add(platform::net::SocketHandle socket, const std::string& id) {
    auto session = std::make_unique<CSession>();
    session->m_socket = socket;
    session->m_strId = id;
    return *(m_table.m_sessions[socket] = std::move(session));
  }
  SessionTable m_table;
};
