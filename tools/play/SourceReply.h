#pragma once
// What a stream source's JSON text means to the player. Pure functions; any thread.
#include <string>

namespace play {

enum class SourceReply { kGoOn, kNotice, kEndOfData, kRefused };

// The integer "code" of a source's text, or 0 when it has none.
int ReplyCode(const std::string& text);
// 0 and 4004 go on; 203 and 4001 are noted; 302 and 4002 end the data; anything else refuses.
SourceReply ClassifyReply(int code);

}  // namespace play
