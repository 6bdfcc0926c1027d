// Feeds arbitrary bytes to the command parser and writes a reply from whatever parsed, as the
// dispatcher would.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/DebugLog.h"
#include "service/protocol/CommandParser.h"
#include "service/protocol/CommandReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    SetDebugLogSink([](const std::string&) {});
    return true;
  }();
  (void)quiet;
  CommandRequest request;
  if (ParseCommand(std::string(reinterpret_cast<const char*>(data), size), request) != 0) return 0;
  CommandReply reply;
  reply.cmd = request.cmd;
  reply.sequence = request.sequence;
  reply.path = request.filePath;
  reply.callback = request.callback;
  BuildReplyText(reply);
  return 0;
}
