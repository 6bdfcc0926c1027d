#pragma once
// The 36-byte header in front of every media frame a stream source sends, and the codec codes.
// Pure functions; any thread.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

constexpr size_t kMediaHeaderSize = 36;

enum class MediaKind : uint8_t { kAudio = 0, kVideo = 1 };

struct MediaHeader {
  uint32_t word0 = 0;       // not used by the receiver
  uint8_t kind = 0;         // 1 video, 0 audio
  uint8_t dot = 0;          // 1: show the red dot
  uint32_t word8 = 0;       // not used
  uint32_t frameTime = 0;   // the source's unit
  uint32_t rate = 0;        // video frame rate or audio sample rate
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t wireCodec = 0;    // as sent
  int codec = 0;            // the code used everywhere else
  uint8_t frameType = 0;
  uint32_t word32 = 0;      // not used
  bool IsVideo() const { return kind == static_cast<uint8_t>(MediaKind::kVideo); }
};

// A "{" before any zero byte marks a text (JSON) message rather than media.
bool IsJsonText(const uint8_t* data, size_t size);

// None for a message shorter than the header or a JSON text.
std::optional<MediaHeader> ParseMediaHeader(const uint8_t* data, size_t size);

// Wire code to the code given to the AV library; AAC depends on the sample rate. Unknown codes
// pass unchanged.
int WireCodecToLibrary(bool video, int wireCodec, uint32_t sampleRate);
// The reverse, for headers this service writes; unknown codes pass unchanged.
int LibraryCodecToWire(bool video, int codec);
// The library has no MP2 decoder code of its own: 22 travels as 1.
inline int AudioCodecForLibrary(int codec) { return codec == 22 ? 1 : codec; }

// Header of a talk message the service sends: audio, payload length little-endian at 6, the
// channel's audio codec (22 as 1) at 28.
std::vector<uint8_t> BuildTalkHeader(int audioCodec, uint16_t payloadLength);
