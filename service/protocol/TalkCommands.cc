// Two-way audio: one talk channel per session, in its own slot.
#include "common/GuidText.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/FileCommandParts.h"

namespace {

int StartTalk(CommandCall& call) {
  const CommandRequest& q = call.request;
  SessionTable& sessions = call.service.sessions;
  call.reply.channel = q.channel;
  if (auto earlier = TakeFromSlot(sessions, call.session, &CSession::m_pTalk)) earlier->StopTalk("");
  auto created = std::make_unique<PlayChannel>();
  created->SetEventSink(call.service.events);
  // In the slot before it starts, so a refusal from the source finds the session.
  PlayChannel* channel = PutInSlot(sessions, call.session, &CSession::m_pTalk, std::move(created));
  // An encodeType outside the vocabulary leaves no coder: the capture refuses it.
  const int result = channel->StartTalk(q.url, q.requestJson, q.audioCoder.value_or(0), MakeGuidText());
  if (result != 0) TakeFromSlot(sessions, call.session, &CSession::m_pTalk);
  return result;
}

int StopTalk(CommandCall& call) {
  if (auto channel = TakeFromSlot(call.service.sessions, call.session, &CSession::m_pTalk)) {
    channel->StopTalk(call.request.requestJson);
  }
  return 0;
}

}  // namespace

void RegisterTalkCommands(CommandTable& table) {
  table.Register("startTalk", StartTalk);
  table.Register("stopTalk", StopTalk);
}
