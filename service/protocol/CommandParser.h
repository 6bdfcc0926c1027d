#pragma once
#include <string>

#include "service/protocol/CommandRequest.h"

// Parses one WebSocket text message into `request` (freshly constructed). 0 when the message is a
// JSON object whose keys fit its command, -1 otherwise; a -1 message gets no reply. Keeps no state,
// so the command thread and the server thread may call it at once.
int ParseCommand(const std::string& text, CommandRequest& request);
