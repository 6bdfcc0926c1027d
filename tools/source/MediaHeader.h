#pragma once
// The 36-byte header in front of every media message. Multi-byte fields are big-endian except
// the rate word at 16 (little-endian) and the payload length at 6 (little-endian, set only in
// audio the service sends for talk).

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace source {

constexpr std::size_t kMediaHeaderSize = 36;

// Codec byte at offset 28.
enum class WireCodec : std::uint8_t {
    H264 = 0,
    H265 = 1,
    Mjpeg = 3,
    G711A = 16,
    G711U = 17,
    Aac = 21,
};

struct MediaHeader {
    bool video = true;              // byte 4: 1 video, 0 audio
    bool dot = false;               // byte 5: the viewer shows a red dot
    std::uint16_t payloadLength = 0;  // bytes 6-7
    std::uint32_t time = 0;         // bytes 12-15: stream time in seconds
    std::uint32_t rate = 0;         // bytes 16-19: frame rate, or audio sample rate
    std::uint32_t width = 0;        // bytes 20-23
    std::uint32_t height = 0;       // bytes 24-27
    std::uint8_t codec = 0;         // byte 28: WireCodec
    std::uint8_t frameType = 0;     // byte 29: 1 key frame (and every audio block), 0 other
};

std::array<std::uint8_t, kMediaHeaderSize> EncodeHeader(const MediaHeader& header);

// Empty when the message is too short to carry a header.
std::optional<MediaHeader> DecodeHeader(std::string_view message);

}  // namespace source
