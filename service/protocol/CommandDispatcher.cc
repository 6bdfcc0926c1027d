#include "service/protocol/CommandDispatcher.h"

// Placeholder until the command families land: answers nothing.
std::string CommandDispatcher::ExecuteCommand(platform::net::SocketHandle, const std::string&,
                                              const std::string&) {
  return {};
}
