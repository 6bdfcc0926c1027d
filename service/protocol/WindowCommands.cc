// Window group commands. Until window groups exist every session is without one, and these
// commands answer as they do then: errorCode 0 and no work.
#include "service/protocol/CommandTable.h"

void RegisterWindowCommands(CommandTable& table) {
  // No group: no pane is selected.
  table.Register("getSelectWndIndex", [](CommandCall& call) {
    call.reply.wndIndex = -1;
    call.reply.channel = -1;
    return 0;
  });
}
