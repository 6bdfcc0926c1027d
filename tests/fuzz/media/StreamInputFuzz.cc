// Arbitrary bytes through everything a stream source or a page's URL feeds the client: the
// frame decoder in two pieces split where the first byte says, the URL forms and the media header.
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/media/MediaHeader.h"
#include "service/media/WsFraming.h"
#include "service/media/WsUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t split = data[0] % size;
  easywsclient::WsFrameDecoder decoder;
  decoder.Feed(data + 1, split > 0 ? split - 1 : 0);
  size_t total = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (auto ev = decoder.Next(); ev.kind != easywsclient::WsEvent::kNone; ev = decoder.Next()) {
      total += ev.payload.size();
      if (ev.payload.size() > easywsclient::kMaxMessageBytes) __builtin_trap();
      if (ev.kind == easywsclient::WsEvent::kTooLarge) break;
    }
    if (pass == 0) decoder.Feed(data + (split > 0 ? split : 1), size - (split > 0 ? split : 1));
  }
  if (total > size) __builtin_trap();
  easywsclient::ParseWsUrl(std::string(reinterpret_cast<const char*>(data), size));
  ParseMediaHeader(data, size);
  return 0;
}
