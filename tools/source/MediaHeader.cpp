#include "MediaHeader.h"

namespace source {

namespace {

void PutBig32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

void PutLittle32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t GetBig32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint32_t GetLittle32(const unsigned char* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

}  // namespace

std::array<std::uint8_t, kMediaHeaderSize> EncodeHeader(const MediaHeader& h) {
    std::array<std::uint8_t, kMediaHeaderSize> out{};
    out[4] = h.video ? 1 : 0;
    out[5] = h.dot ? 1 : 0;
    out[6] = static_cast<std::uint8_t>(h.payloadLength);
    out[7] = static_cast<std::uint8_t>(h.payloadLength >> 8);
    PutBig32(&out[12], h.time);
    PutLittle32(&out[16], h.rate);
    PutBig32(&out[20], h.width);
    PutBig32(&out[24], h.height);
    out[28] = h.codec;
    out[29] = h.frameType;
    return out;
}

std::optional<MediaHeader> DecodeHeader(std::string_view message) {
    if (message.size() < kMediaHeaderSize) return std::nullopt;
    auto p = reinterpret_cast<const unsigned char*>(message.data());
    MediaHeader h;
    h.video = p[4] == 1;
    h.dot = p[5] == 1;
    h.payloadLength = static_cast<std::uint16_t>(p[6] | (p[7] << 8));
    h.time = GetBig32(p + 12);
    h.rate = GetLittle32(p + 16);
    h.width = GetBig32(p + 20);
    h.height = GetBig32(p + 24);
    h.codec = p[28];
    h.frameType = p[29];
    return h;
}

}  // namespace source
