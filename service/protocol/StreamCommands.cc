// Stream commands: live view and playback in the panes (PlayCommands.cc, PlaybackCommands.cc,
// ZoomCommands.cc, SoundCommands.cc); files and talk below.
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/StreamCommandParts.h"

void RegisterPaneCommand(CommandTable& table, const char* name, std::function<int(CommandCall&, PlayChannel&)> action) {
  table.Register(name, [action](CommandCall& call) {
    PlayChannel* channel = ChannelOfPane(call.session, call.request.wndIndex.value_or(-1));
    return channel ? action(call, *channel) : 0;
  });
}

void RegisterStreamCommands(CommandTable& table) {
  RegisterPlayCommands(table);
  RegisterPlaybackCommands(table);
  RegisterZoomCommands(table);
  RegisterSoundCommands(table);
  table.Register("startTalk", [](CommandCall& call) {
    call.reply.channel = call.request.channel;
    return 0;
  });
}
