#include "service/protocol/CommandDispatcher.h"

#include <mutex>

#include "service/protocol/CommandParser.h"

CommandDispatcher::CommandDispatcher(ServiceContext& context) : m_context(context) {
  RegisterConnectionCommands(m_table);
  RegisterSettingsCommands(m_table);
  RegisterWindowCommands(m_table);
  RegisterStreamCommands(m_table);
  RegisterFileCommands(m_table);
}

std::string CommandDispatcher::ExecuteCommand(platform::net::SocketHandle socket, const std::string& id,
                                              const std::string& text) {
  // The session cannot go away after the lookup: teardown waits for m_commandMutex, which our
  // caller holds.
  CSession* session = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_context.sessions.m_sessionsMutex);
    auto it = m_context.sessions.m_sessions.find(socket);
    if (it != m_context.sessions.m_sessions.end()) session = it->second.get();
  }
  if (!session || (!id.empty() && session->m_strId != id)) return {};

  CommandRequest request;
  if (ParseCommand(text, request) != 0) return {};
  CommandReply reply;
  int result = 0;
  if (const CommandHandler* handler = m_table.Find(request.cmd)) {
    CommandCall call{m_context, *session, request, reply, text};
    result = (*handler)(call);
    if (call.replyLater) return {};
  }
  reply.errorCode = result;
  reply.cmd = request.cmd;
  reply.sequence = request.sequence;
  reply.uuid = session->m_strId;
  return BuildReplyText(reply);
}
