#include "service/media/MediaHeader.h"

#include <cstring>

namespace {
uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t LittleEndian32(const uint8_t* p) {
  return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

struct CodecPair {
  bool video;
  int wire;
  int library;
};
constexpr CodecPair kCodecs[] = {
    {true, 0, 96},  // H.264
    {true, 1, 150}, // H.265
    {true, 3, 26},  // MJPEG
    {false, 16, 1}, // G.711 A-law
    {false, 17, 2}, // G.711 mu-law
};
constexpr int kWireAac = 21;
constexpr int kAac = 21, kAac8k = 33, kAac16k = 34, kAac32k = 37;
}  // namespace

bool IsJsonText(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size && data[i] != 0; ++i) {
    if (data[i] == '{') return true;
  }
  return false;
}

std::optional<MediaHeader> ParseMediaHeader(const uint8_t* data, size_t size) {
  if (size < kMediaHeaderSize || IsJsonText(data, size)) return std::nullopt;
  MediaHeader h;
  h.word0 = BigEndian32(data);
  h.kind = data[4];
  h.dot = data[5];
  h.word8 = BigEndian32(data + 8);
  h.frameTime = BigEndian32(data + 12);
  h.rate = LittleEndian32(data + 16);
  h.width = BigEndian32(data + 20);
  h.height = BigEndian32(data + 24);
  h.wireCodec = data[28];
  h.frameType = data[29];
  h.word32 = BigEndian32(data + 32);
  h.codec = WireCodecToLibrary(h.IsVideo(), h.wireCodec, h.rate);
  return h;
}

int WireCodecToLibrary(bool video, int wireCodec, uint32_t sampleRate) {
  for (const CodecPair& c : kCodecs) {
    if (c.video == video && c.wire == wireCodec) return c.library;
  }
  if (!video && wireCodec == kWireAac) {
    switch (sampleRate) {
      case 8000: return kAac8k;
      case 16000: return kAac16k;
      case 32000: return kAac32k;
      default: return kAac;
    }
  }
  return wireCodec;
}

int LibraryCodecToWire(bool video, int codec) {
  for (const CodecPair& c : kCodecs) {
    if (c.video == video && c.library == codec) return c.wire;
  }
  if (!video && (codec == kAac || codec == kAac8k || codec == kAac16k || codec == kAac32k)) return kWireAac;
  return codec;
}

std::vector<uint8_t> BuildTalkHeader(int audioCodec, uint16_t payloadLength) {
  std::vector<uint8_t> h(kMediaHeaderSize, 0);
  h[4] = static_cast<uint8_t>(MediaKind::kAudio);
  h[6] = static_cast<uint8_t>(payloadLength & 0xFF);
  h[7] = static_cast<uint8_t>(payloadLength >> 8);
  h[28] = static_cast<uint8_t>(AudioCodecForLibrary(audioCodec));
  return h;
}
