// Starting and stopping live view and playback in the panes of the session's window group.
#include <cstdint>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "common/DebugLog.h"
#include "common/GuidText.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/StreamCommandParts.h"
#include "service/windows/CPlayWnd.h"

namespace {

// What one pane is asked to play.
struct PaneStart {
  const std::string& requestJson;
  int pane;
  int videoCoder, audioCoder, frameRate, bitRate, width, height;
  bool dxva;
};

// The text that ends a camera's earlier stream when the camera is started again elsewhere:
// {"action":"stop","data":{"sessionID":...}}.
std::string StopText(const std::string& sessionID) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("action");
  writer.String("stop");
  writer.Key("data");
  writer.StartObject();
  writer.Key("sessionID");
  writer.String(sessionID.c_str(), static_cast<rapidjson::SizeType>(sessionID.size()));
  writer.EndObject();
  writer.EndObject();
  return buffer.GetString();
}

StreamDescription DescriptionOf(const PaneStart& start) {
  StreamDescription description{};
  description.videoCodec = static_cast<uint16_t>(start.videoCoder);
  description.audioCodec = static_cast<uint16_t>(start.audioCoder);
  description.frameRate = static_cast<uint16_t>(start.frameRate);
  description.bitRate = static_cast<uint16_t>(start.bitRate);
  description.width = static_cast<uint16_t>(start.width);
  description.height = static_cast<uint16_t>(start.height);
  return description;
}

// Opens a channel into pane `start.pane` of the group. A pane that already plays is left alone
// (-1); a channel whose start failed still takes its pane, as the page expects to stop it.
int StartInPane(CommandCall& call, CPlayWnd& group, const PaneStart& start, bool playback) {
  // A pane the group does not have would be a channel with no window and no end to their number.
  if (!IsPaneIndex(start.pane)) return -1;
  if (ChannelOfPane(call.session, start.pane)) {
    DebugLogText("---------- Window is playing ----------");
    return -1;
  }
  auto channel = std::make_unique<PlayChannel>();
  // Sink and size before the start: the channel's threads may report at once.
  channel->SetEventSink(call.service.events);
  layout::PaneSize size = group.GetPaneSize(start.pane);
  channel->SetPaneWidth(size.width);
  channel->SetPaneHeight(size.height);
  return StartAndPutChannel(call.service.sessions, call.session, start.pane, std::move(channel), [&](PlayChannel& c) {
    return c.StartStream(call.request.url, start.requestJson, group.Pane(start.pane), DescriptionOf(start), playback,
                         start.pane, MakeGuidText(), group.m_paneCount, start.dxva);
  });
}

int StartPlay(CommandCall& call) {
  const CommandRequest& q = call.request;
  const bool playback = q.cmd != "startPlay";
  int pane = q.wndIndex.value_or(-1);
  if (!playback) {
    // The camera plays elsewhere already: its stream is replaced in its own pane.
    if (PlayChannel* earlier = ChannelOfCamera(call.session, q.channel)) {
      pane = earlier->PaneIndex();
      StopAndDestroy(TakeChannel(call.service.sessions, call.session, pane), StopText(q.sessionID));
    }
  }
  call.reply.wndIndex = pane;
  CPlayWnd* group = call.session.m_pWnd.get();
  if (!group) return playback ? 0 : -1;
  PaneStart start{q.requestJson,         pane, q.videoCoder.value_or(0),  q.audioCoder.value_or(0),
                  q.frameRate.value_or(0), q.bitRate.value_or(0), q.videoWidth.value_or(0), q.videoHeight.value_or(0),
                  q.dxva.value_or(false)};
  return StartInPane(call, *group, start, playback);
}

int StartMultiPlay(CommandCall& call) {
  CPlayWnd* group = call.session.m_pWnd.get();
  if (!group) return 0;
  const bool playback = call.request.cmd != "startMultiPlay";
  int result = 0;
  for (const MultiPlayItem& item : call.request.multiPlay) {
    PaneStart start{item.requestJson, item.wndIndex, item.videoCoder, item.audioCoder, item.frameRate,
                    item.bitRate,     item.videoWidth, item.videoHeight, item.dxva};
    result = StartInPane(call, *group, start, playback);
  }
  return result;
}

// Stops every play channel of the session; talk and download are not in the table.
void StopAll(CommandCall& call) {
  for (ChannelPtr& channel : TakeAllChannels(call.service.sessions, call.session))
    StopAndDestroy(std::move(channel), call.request.requestJson);
  if (CPlayWnd* group = call.session.m_pWnd.get()) group->Refresh(-1);
}

void StopPane(CommandCall& call, int pane) {
  ChannelPtr channel = TakeChannel(call.service.sessions, call.session, pane);
  if (!channel) return;
  StopAndDestroy(std::move(channel), call.request.requestJson);
  // The pane shows its background again.
  if (CPlayWnd* group = call.session.m_pWnd.get()) group->Refresh(pane);
}

}  // namespace

void RegisterPlayCommands(CommandTable& table) {
  table.Register("startPlay", StartPlay);
  table.Register("startPlayBack", StartPlay);
  table.Register("startMultiPlay", StartMultiPlay);
  table.Register("startMultiPlayBack", StartMultiPlay);
  table.Register("stopPlay", [](CommandCall& call) {
    int camera = call.request.channel;
    if (camera == -1) {
      StopAll(call);
    } else if (PlayChannel* channel = ChannelOfCamera(call.session, camera)) {
      StopPane(call, channel->PaneIndex());
    }
    return 0;
  });
  table.Register("stopPlayBack", [](CommandCall& call) {
    int pane = call.request.wndIndex.value_or(-1);
    if (pane == -1)
      StopAll(call);
    else
      StopPane(call, pane);
    return 0;
  });
  table.Register("getBitRate", [](CommandCall& call) {
    int camera = call.request.channel;
    PlayChannel* channel = IsCameraChannel(camera) ? ChannelOfCamera(call.session, camera) : nullptr;
    call.reply.bitRate = channel ? channel->BitRate() : 0;
    return 0;
  });
}
