// The session's download: one at a time, in its own slot.
#include "common/GuidText.h"
#include "common/TextConv.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/FileCommandParts.h"

namespace {

int StartDownload(CommandCall& call) {
  const CommandRequest& q = call.request;
  SessionTable& sessions = call.service.sessions;
  // A download still running is stopped and sealed first, rather than left to run unowned.
  if (auto earlier = TakeFromSlot(sessions, call.session, &CSession::m_pDownload)) earlier->StopDownload("");
  auto created = std::make_unique<PlayChannel>();
  created->SetEventSink(call.service.events);
  // In the slot before it starts, so its first notices find the session.
  PlayChannel* channel = PutInSlot(sessions, call.session, &CSession::m_pDownload, std::move(created));
  const int result = channel->StartDownload(q.url, q.requestJson, q.downloadId, q.startTime, q.endTime,
                                            Utf8ToWide(q.fileName), Utf8ToWide(q.fileSize), MakeGuidText());
  if (result != 0) TakeFromSlot(sessions, call.session, &CSession::m_pDownload);
  return result;
}

int StopDownload(CommandCall& call) {
  if (auto channel = TakeFromSlot(call.service.sessions, call.session, &CSession::m_pDownload)) {
    channel->StopDownload(call.request.requestJson);
  }
  return 0;
}

}  // namespace

void RegisterDownloadCommands(CommandTable& table) {
  table.Register("startDownload", StartDownload);
  table.Register("stopDownload", StopDownload);
}
