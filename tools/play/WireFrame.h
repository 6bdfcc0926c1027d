#pragma once
// The 36-byte header in front of each media message from a stream source, read into the
// library's terms.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace play {

struct WireFrame {
  bool video = false;
  std::uint32_t time = 0;
  std::uint32_t rate = 0;  // frame rate, or audio sample rate
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int codec = 0;  // library codec code
  int frameType = 0;
  const std::uint8_t* payload = nullptr;
  std::size_t payloadSize = 0;
};

constexpr std::size_t kWireHeaderSize = 36;

// Empty for messages too short to hold a header.
std::optional<WireFrame> ParseWireFrame(const std::uint8_t* data, std::size_t size);
// Wire codec byte to the library's code (audio codes depend on the sample rate).
int LibraryCodec(bool video, int wireCodec, std::uint32_t rate);

}  // namespace play
