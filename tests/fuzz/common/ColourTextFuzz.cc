// Colour texts a page sends (overlay, pane border, background): a value, when there is one, is a
// colour with nothing above the blue byte, and the hexadecimal form reads back what was written.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/ColourText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto value = ColourTextToValue(text);
  if (value && *value > 0xFFFFFFu) __builtin_trap();
  if (size >= 3) {
    const uint32_t colour = data[0] | (data[1] << 8) | (data[2] << 16);
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%02x%02X%02x", data[0], data[1], data[2]);
    if (ColourTextToValue(hex) != colour) __builtin_trap();
    char decimal[24];
    std::snprintf(decimal, sizeof decimal, " ( %d,%d , %d)", data[0], data[1], data[2]);
    if (ColourTextToValue(decimal) != colour) __builtin_trap();
  }
  return 0;
}
