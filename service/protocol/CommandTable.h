#pragma once
// Command name -> action. Each family registers its commands from its own file; a name without
// an action is answered with errorCode 0 and no work. Filled once before the command thread
// starts, read-only afterwards.
#include <functional>
#include <string>
#include <unordered_map>

#include "service/protocol/CommandReply.h"
#include "service/protocol/CommandRequest.h"
#include "service/protocol/ServiceContext.h"

class CSession;

// One command being carried out: the page's session, the parsed request, the reply being filled
// and the raw message text.
struct CommandCall {
  ServiceContext& service;
  CSession& session;
  const CommandRequest& request;
  CommandReply& reply;
  const std::string& text;
  // Set by a handler that answers later itself, through the connection writer.
  bool replyLater = false;
};

// Returns the command's result, sent to the page as errorCode.
using CommandHandler = std::function<int(CommandCall&)>;

class CommandTable {
 public:
  void Register(const std::string& name, CommandHandler handler) { m_handlers[name] = std::move(handler); }
  const CommandHandler* Find(const std::string& name) const {
    auto it = m_handlers.find(name);
    return it == m_handlers.end() ? nullptr : &it->second;
  }

 private:
  std::unordered_map<std::string, CommandHandler> m_handlers;
};

void RegisterConnectionCommands(CommandTable& table);
void RegisterSettingsCommands(CommandTable& table);
void RegisterWindowCommands(CommandTable& table);
void RegisterStreamCommands(CommandTable& table);
void RegisterFileCommands(CommandTable& table);  // after the stream family: its names win
