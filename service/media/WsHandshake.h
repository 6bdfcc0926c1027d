#pragma once
// The opening handshake of the stream source client. Pure text helpers; any thread.
#include <string>
#include <vector>

#include "service/media/WsUrl.h"

namespace easywsclient {

constexpr size_t kMaxOriginLength = 200;  // an origin this long or longer is refused
// Longest status or header line read before the answer is judged invalid.
constexpr size_t kMaxStatusLine = 255;
// The same key in every request; the answer's accept key is not checked.
constexpr const char* kWebSocketKey = "Z5mQpR8sT2vW6yA1cE9gHk==";

// The request, one entry per line as it is written, ending with the empty line.
std::vector<std::string> BuildRequestLines(const WsUrl& url, const std::string& origin);

}  // namespace easywsclient
