#include "common/GuidText.h"

#include <openssl/rand.h>

#include <cstdint>
#include <cstdio>
#include <random>

std::string MakeGuidText() {
  uint8_t b[16];
  if (RAND_bytes(b, sizeof b) != 1) {
    // The CSPRNG never fails in practice; an id must still be unique per connection.
    std::random_device rd;
    for (auto& x : b) x = static_cast<uint8_t>(rd());
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  char text[64];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}
