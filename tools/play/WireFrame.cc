#include "WireFrame.h"

#include "VXAVPlayer.h"

namespace play {

namespace {

std::uint32_t BigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint32_t LittleEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

}  // namespace

int LibraryCodec(bool video, int wireCodec, std::uint32_t rate) {
  if (video) {
    switch (wireCodec) {
      case 0: return VX_CODEC_H264;
      case 1: return VX_CODEC_H265;
      case 3: return VX_CODEC_MJPEG;
      default: return wireCodec;
    }
  }
  switch (wireCodec) {
    case 16: return VX_CODEC_G711A;
    case 17: return VX_CODEC_G711U;
    case 21: return rate == 8000 ? VX_CODEC_AAC_8K : rate == 16000 ? VX_CODEC_AAC_16K
                    : rate == 32000 ? VX_CODEC_AAC_32K : VX_CODEC_AAC;
    default: return wireCodec;
  }
}

std::optional<WireFrame> ParseWireFrame(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kWireHeaderSize) return std::nullopt;
  WireFrame frame;
  frame.video = data[4] == 1;
  frame.time = BigEndian(data + 12);
  frame.rate = LittleEndian(data + 16);
  frame.width = BigEndian(data + 20);
  frame.height = BigEndian(data + 24);
  frame.codec = LibraryCodec(frame.video, data[28], frame.rate);
  frame.frameType = data[29];
  frame.payload = data + kWireHeaderSize;
  frame.payloadSize = size - kWireHeaderSize;
  return frame;
}

}  // namespace play
