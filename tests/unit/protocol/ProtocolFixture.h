#pragma once
// Sessions without sockets: a connection table holding sessions and a writer that records what
// would have been sent.
#include <atomic>
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

// Sessions are owned here and erased from the table before they are deleted.
class SessionsHolder {
 public:
  ~SessionsHolder() {
    for (auto& entry : m_table.m_sessions) delete entry.second;
  }
  CSession& Add(platform::net::SocketHandle socket, const std::string& id) {
    auto* session = new CSession;
    session->m_socket = socket;
    session->m_strId = id;
    m_table.m_sessions[socket] = session;
    return *session;
  }
  SessionTable m_table;
};
