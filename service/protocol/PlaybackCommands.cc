// Controlling a pane's playback: speed, pause, resume, seek, and the play time shown to the page.
#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/StreamCommandParts.h"

void RegisterPlaybackCommands(CommandTable& table) {
  RegisterPaneCommand(table, "setPlaybackSpeed", [](CommandCall& call, PlayChannel& channel) {
    // A request text without "data" carries no speed: the current one stays.
    if (call.request.speed)
      channel.SetPlaySpeed(*call.request.speed, call.request.requestJson);
    else
      channel.SendSpeedMessage(call.request.requestJson);
    return 0;
  });
  for (const char* name : {"pausePlayBack", "resumePlayBack"}) {
    RegisterPaneCommand(table, name, [](CommandCall& call, PlayChannel& channel) {
      // The source is told; the channel holds or releases its packets from the next one on.
      channel.SetPaused(call.request.cmd == "pausePlayBack", call.request.requestJson);
      return 0;
    });
  }
  table.Register("seekPlayBack", [](CommandCall& call) {
    call.reply.wndIndex = call.request.wndIndex.value_or(0);
    call.reply.seekTime = call.request.seekTime;
    PlayChannel* channel = ChannelOfPane(call.session, call.request.wndIndex.value_or(-1));
    if (channel) channel->SeekPlayback(call.request.requestJson);
    return 0;
  });
  table.Register("getOSDTime", [](CommandCall& call) {
    const CommandRequest& q = call.request;
    PlayChannel* channel = ChannelOfPane(call.session, q.wndIndex.value_or(-1));
    // A pane that plays nothing has no time to show.
    call.reply.osdTime = channel ? channel->ReportPlayTime() : 0;
    call.reply.wndIndex = q.wndIndex.value_or(0);
    call.reply.stream = q.stream.value_or(0);
    call.reply.speed = q.speed.value_or(0);
    call.reply.callback = q.callback;
    return 0;
  });
}
