#pragma once
// Carries out one page command and returns the reply text ("" = no reply). Command thread only,
// with m_commandMutex held by the caller.
#include <string>

#include "platform/net/Socket.h"
#include "service/protocol/CommandTable.h"
#include "service/protocol/ServiceContext.h"

class CommandDispatcher {
 public:
  // Fills the command table from every family.
  explicit CommandDispatcher(ServiceContext& context);
  // `id` is the connection id the message arrived with; a message whose socket now belongs to
  // another connection is dropped like one whose socket has no session.
  std::string ExecuteCommand(platform::net::SocketHandle socket, const std::string& id,
                             const std::string& text);

 private:
  ServiceContext& m_context;
  CommandTable m_table;
};
