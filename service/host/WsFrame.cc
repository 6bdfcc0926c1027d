#include "service/host/WsFrame.h"

#include <cstring>

namespace {

struct Header {
  bool fin;
  int opcode;
  bool masked;
  std::size_t headerLength;
  std::uint64_t payloadLength;
};

// false while the header is incomplete.
bool ReadHeader(const std::uint8_t* frame, std::size_t length, Header& h) {
  if (length < 2) return false;
  h.fin = (frame[0] & 0x80) != 0;
  h.opcode = frame[0] & 0x0F;
  h.masked = (frame[1] & 0x80) != 0;
  int code = frame[1] & 0x7F;
  h.headerLength = 2 + (code == 126 ? 2 : 0) + (code == 127 ? 8 : 0) + (h.masked ? 4 : 0);
  if (length < h.headerLength) return false;
  if (code < 126) {
    h.payloadLength = static_cast<std::uint64_t>(code);
  } else if (code == 126) {
    h.payloadLength = (static_cast<std::uint64_t>(frame[2]) << 8) | frame[3];
  } else {
    h.payloadLength = 0;
    for (int i = 0; i < 8; ++i) h.payloadLength = (h.payloadLength << 8) | frame[2 + i];
  }
  return true;
}

}  // namespace

std::uint64_t AnnouncedFrameSize(const std::uint8_t* frame, std::size_t length) {
  Header h;
  if (!ReadHeader(frame, length, h)) return 0;
  // A 64-bit length near the top would wrap when the header is added.
  if (h.payloadLength > UINT64_MAX - h.headerLength) return UINT64_MAX;
  return h.headerLength + h.payloadLength;
}

std::int64_t ParseFrame(std::uint8_t* frame, std::string& text, std::size_t length) {
  text.clear();
  Header h;
  if (!ReadHeader(frame, length, h)) return -1;
  if (h.payloadLength > length - h.headerLength) return -1;
  std::uint8_t* payload = frame + h.headerLength;
  std::size_t n = static_cast<std::size_t>(h.payloadLength);
  if (h.opcode <= 2) {
    if (h.masked) {
      const std::uint8_t* key = frame + h.headerLength - 4;
      for (std::size_t i = 0; i < n; ++i) payload[i] ^= key[i % 4];
    }
    if (h.fin) {
      const void* zero = std::memchr(payload, 0, n);
      std::size_t textLength = zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - payload) : n;
      text.assign(reinterpret_cast<const char*>(payload), textLength);
    }
  }
  return static_cast<std::int64_t>(h.headerLength + n);
}

bool IsCloseFrame(const std::uint8_t* frame, std::size_t length) {
  Header h;
  return ReadHeader(frame, length, h) && h.opcode == 8;
}

std::string BuildTextFrame(const std::string& text) {
  std::uint64_t n = text.size();
  std::string frame;
  frame.reserve(text.size() + 10);
  frame.push_back(static_cast<char>(0x81));
  if (n < 126) {
    frame.push_back(static_cast<char>(n));
  } else if (n <= 65535) {
    frame.push_back(static_cast<char>(126));
    frame.push_back(static_cast<char>(n >> 8));
    frame.push_back(static_cast<char>(n & 0xFF));
  } else {
    frame.push_back(static_cast<char>(127));
    for (int shift = 56; shift >= 0; shift -= 8) frame.push_back(static_cast<char>((n >> shift) & 0xFF));
  }
  frame += text;
  return frame;
}
