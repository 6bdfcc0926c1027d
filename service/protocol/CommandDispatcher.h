#pragma once
// Carries out one page command and returns the reply text ("" = no reply). Command thread only,
// with m_commandMutex held by the caller.
#include <atomic>
#include <string>

#include "platform/net/Socket.h"
#include "service/protocol/IEvent.h"
#include "service/protocol/SessionTable.h"

struct ServiceContext {
  SessionTable& sessions;
  IEvent& events;
  IConnectionWriter& writer;
  std::atomic<bool>& dialogOpen;  // true while the folder picker is open (the hang check waits)
  std::string configPath;         // "./config.ini"
  std::string settingsFolder;     // local application-data folder
};

class CommandDispatcher {
 public:
  explicit CommandDispatcher(ServiceContext& context) : m_context(context) {}
  std::string ExecuteCommand(platform::net::SocketHandle socket, const std::string& id,
                             const std::string& text);

 private:
  ServiceContext& m_context;
};
