// Stream commands. Until window groups and play channels exist every session is without them,
// and these commands answer as they do then: nothing to act on, the request's own values echoed.
#include "service/protocol/CommandTable.h"

void RegisterStreamCommands(CommandTable& table) {
  // Nothing could be started without a window group.
  table.Register("startPlay", [](CommandCall&) { return -1; });
  table.Register("startPlayBack", [](CommandCall& call) {
    call.reply.wndIndex = call.request.wndIndex.value_or(0);
    return 0;
  });
  table.Register("seekPlayBack", [](CommandCall& call) {
    call.reply.wndIndex = call.request.wndIndex.value_or(0);
    call.reply.seekTime = call.request.seekTime;
    return 0;
  });
  table.Register("getOSDTime", [](CommandCall& call) {
    const CommandRequest& q = call.request;
    call.reply.wndIndex = q.wndIndex.value_or(0);
    call.reply.stream = q.stream.value_or(0);
    call.reply.speed = q.speed.value_or(0);
    call.reply.callback = q.callback;
    return 0;
  });
  table.Register("startTalk", [](CommandCall& call) {
    call.reply.channel = call.request.channel;
    return 0;
  });
}
