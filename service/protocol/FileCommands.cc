// Snapshots and recordings in the panes, and the hook of the file and talk family.
#include <rapidjson/document.h>

#include <mutex>

#include "common/TextConv.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/FileCommandParts.h"

namespace {

// The channel a recording command names: by camera when its channel is 0..63, else by pane.
PlayChannel* RecordTarget(const CSession& session, int camera, int pane) {
  return IsCameraChannel(camera) ? ChannelOfCamera(session, camera) : ChannelOfPane(session, pane);
}

// data.wndIndex of the raw message, when it is an integer. A stopRecord that carries a channel
// has its wndIndex left unread by the parser, yet a channel outside 0..63 selects by that pane.
std::optional<int> RawWndIndex(const std::string& text) {
  rapidjson::Document doc;
  doc.Parse(text.c_str(), text.size());
  if (doc.HasParseError() || !doc.IsObject()) return std::nullopt;
  auto data = doc.FindMember("data");
  if (data == doc.MemberEnd() || !data->value.IsObject()) return std::nullopt;
  auto pane = data->value.FindMember("wndIndex");
  if (pane == data->value.MemberEnd() || !pane->value.IsInt()) return std::nullopt;
  return pane->value.GetInt();
}

int Capture(CommandCall& call) {
  PlayChannel* channel = ChannelOfPane(call.session, call.request.wndIndex.value_or(-1));
  return channel ? channel->CapturePicture(Utf8ToWide(call.request.fileName)) : 0;
}

int StartRecord(CommandCall& call) {
  PlayChannel* channel = RecordTarget(call.session, call.request.channel, call.request.wndIndex.value_or(-1));
  return channel ? channel->StartRecord(Utf8ToWide(call.request.fileName)) : 0;
}

int StartMultiRecord(CommandCall& call) {
  int result = 0;
  for (const MultiRecordItem& item : call.request.multiRecord) {
    if (PlayChannel* channel = RecordTarget(call.session, item.channel, item.wndIndex)) {
      result = channel->StartRecord(Utf8ToWide(item.fileName));
    }
  }
  return result;
}

int StopRecord(CommandCall& call) {
  const CommandRequest& q = call.request;
  // A wndIndex the message did not carry is not -1.
  if (q.channel == -1 || q.wndIndex.value_or(0) == -1) {
    for (auto& entry : call.session.m_channels) entry.second->StopRecord();
    return 0;
  }
  std::optional<int> pane = q.wndIndex;
  if (!pane && !IsCameraChannel(q.channel)) pane = RawWndIndex(call.text);
  if (PlayChannel* channel = RecordTarget(call.session, q.channel, pane.value_or(-1))) channel->StopRecord();
  return 0;
}

}  // namespace

PlayChannel* PutInSlot(SessionTable& sessions, CSession& session, SessionSlot slot, std::unique_ptr<PlayChannel> channel) {
  std::lock_guard<std::mutex> lock(sessions.m_sessionsMutex);
  session.*slot = std::move(channel);
  return (session.*slot).get();
}

std::unique_ptr<PlayChannel> TakeFromSlot(SessionTable& sessions, CSession& session, SessionSlot slot) {
  std::lock_guard<std::mutex> lock(sessions.m_sessionsMutex);
  return std::move(session.*slot);
}

void RegisterRecordCommands(CommandTable& table) {
  table.Register("capture", Capture);
  table.Register("startRecord", StartRecord);
  table.Register("startMultiRecord", StartMultiRecord);
  table.Register("stopRecord", StopRecord);
}

void RegisterFileCommands(CommandTable& table) {
  RegisterRecordCommands(table);
  RegisterDownloadCommands(table);
  RegisterTalkCommands(table);
}
