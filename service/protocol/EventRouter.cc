#include "service/protocol/EventRouter.h"

#include <mutex>

#include "common/IniFile.h"
#include "service/media/PlayChannel.h"

namespace {
// Which of a session's channels an event comes from.
enum class ChannelSlot { kDownload, kTable, kTalk, kAny };

// The channel of `slot` whose key is `key`; `pane` gets its pane index in the table.
bool OwnsChannel(const CSession& session, ChannelSlot slot, const std::string& key, int* pane) {
  switch (slot) {
    case ChannelSlot::kDownload:
      return session.m_pDownload && session.m_pDownload->ChannelKey() == key;
    case ChannelSlot::kTalk:
      return session.m_pTalk && session.m_pTalk->ChannelKey() == key;
    case ChannelSlot::kTable:
      for (const auto& entry : session.m_channels) {
        if (entry.second && entry.second->ChannelKey() == key) {
          *pane = entry.first;
          return true;
        }
      }
      return false;
    case ChannelSlot::kAny:
      return OwnsChannel(session, ChannelSlot::kTable, key, pane) ||
             OwnsChannel(session, ChannelSlot::kDownload, key, pane) ||
             OwnsChannel(session, ChannelSlot::kTalk, key, pane);
  }
  return false;
}

// The talk source's refusal codes as the page knows them.
int TalkErrorCode(int code) {
  if (code == 4010) return -2;
  if (code == 4009) return -1;
  return code;
}
}  // namespace

EventRouter::EventRouter(SessionTable& sessions, IConnectionWriter& writer)
    : m_sessions(sessions), m_writer(writer) {}

bool EventRouter::SendNotice(CSession& session, CommandReply notice) {
  notice.sequence.clear();
  notice.uuid = session.m_strId;
  std::string text = BuildReplyText(notice);
  return !text.empty() && m_writer.SendText(session, text);
}

int EventRouter::NotifyAllSessions(const CommandReply& notice) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  int sent = 0;
  for (auto& entry : m_sessions.m_sessions) {
    if (entry.second && SendNotice(*entry.second, notice)) ++sent;
  }
  return sent;
}

CommandReply EventRouter::ResourceNotice() {
  CommandReply notice;
  notice.cmd = "notice";
  notice.errorCode = 1;
  // Not about any pane or camera.
  notice.wndIndex = -1;
  notice.channel = -1;
  return notice;
}

void EventRouter::OnChannelEvent(const std::string& key, const std::string& event, const std::string& value,
                                 int cameraChannel, int pane) {
  if (key.empty()) return;
  CommandReply notice;
  notice.cmd = event;
  ChannelSlot slot;
  if (event == "downloadStartTime") {
    slot = ChannelSlot::kDownload;
    notice.startTime = value;
  } else if (event == "downloadProgress") {
    slot = ChannelSlot::kDownload;
    notice.progress = AtoiText(value);
  } else if (event == "playbackFileEnd") {
    slot = ChannelSlot::kTable;
    notice.stopTime = value;
  } else if (event == "startTalk") {
    slot = ChannelSlot::kTalk;
    notice.errorCode = TalkErrorCode(AtoiText(value));
    notice.channel = cameraChannel;
  } else if (event == "startPlay") {
    slot = ChannelSlot::kTable;
    notice.errorCode = -1;
  } else if (event == "notice") {
    // Mostly a pane's stream; also a download whose file takes no more.
    slot = ChannelSlot::kAny;
    notice.errorCode = AtoiText(value);
    notice.channel = cameraChannel;
    notice.wndIndex = pane;
  } else {
    return;
  }

  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  for (auto& entry : m_sessions.m_sessions) {
    int tablePane = -1;
    if (!entry.second || !OwnsChannel(*entry.second, slot, key, &tablePane)) continue;
    if (event == "playbackFileEnd") notice.wndIndex = tablePane;
    SendNotice(*entry.second, notice);
    return;
  }
}

void EventRouter::OnTextMessage(const std::string&) {}
