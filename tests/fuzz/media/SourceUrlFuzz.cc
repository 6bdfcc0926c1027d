// Stream source URLs a page names in its start commands: the parse, and the handshake request
// written from what parsed. The request must stay the lines it is built of: nothing a page puts
// in a URL may end a line early and add a header of its own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/media/WsHandshake.h"
#include "service/media/WsUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto url = easywsclient::ParseWsUrl(text);
  if (!url) return 0;
  if (text.size() >= easywsclient::kMaxUrlLength) __builtin_trap();
  if (url->port < 1 || url->port > 65535) __builtin_trap();
  if (url->host.size() >= text.size() || url->path.size() >= text.size()) __builtin_trap();
  for (const std::string& line : easywsclient::BuildRequestLines(*url, "http://127.0.0.1")) {
    const size_t end = line.find_first_of("\r\n");
    if (end != line.size() - 2 || line.compare(end, 2, "\r\n") != 0) __builtin_trap();
  }
  return 0;
}
