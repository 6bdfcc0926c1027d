// Arbitrary bytes through the per-connection frame assembly, fed in two pieces split where the
// first byte says, against a small limit so the refusal path is reached too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/host/FrameReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::size_t split = size > 1 ? data[0] % size : 0;
  FrameReader reader(4096);
  std::vector<std::string> texts;
  if (reader.Feed(data + 1, split > 0 ? split - 1 : 0, texts)) {
    reader.Feed(data + (split > 0 ? split : 1), size - (split > 0 ? split : 1), texts);
  }
  return 0;
}
