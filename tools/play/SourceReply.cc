#include "SourceReply.h"

#include <cstdlib>

namespace play {

int ReplyCode(const std::string& text) {
  const auto key = text.find("\"code\"");
  if (key == std::string::npos) return 0;
  const auto colon = text.find(':', key);
  return colon == std::string::npos ? 0 : std::atoi(text.c_str() + colon + 1);
}

SourceReply ClassifyReply(int code) {
  switch (code) {
    case 0:
    case 4004:
      return SourceReply::kGoOn;
    case 203:
    case 4001:
      return SourceReply::kNotice;
    case 302:
    case 4002:
      return SourceReply::kEndOfData;
    default:
      return SourceReply::kRefused;
  }
}

}  // namespace play
