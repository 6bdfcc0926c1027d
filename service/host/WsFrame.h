#pragma once
// WebSocket framing, server side. Pure functions; any thread.
#include <cstddef>
#include <cstdint>
#include <string>

// Header plus payload length that the bytes announce, or 0 while the header itself is incomplete.
std::uint64_t AnnouncedFrameSize(const std::uint8_t* frame, std::size_t length);

// Takes one complete frame from the front of `frame`: returns the bytes it occupies, or -1 when
// the bytes do not hold a complete frame. A final data frame (continuation, text, binary) is
// unmasked in place and its payload, up to its first zero byte, goes to `text`; any other frame
// leaves `text` empty.
std::int64_t ParseFrame(std::uint8_t* frame, std::string& text, std::size_t length);

// Whether the bytes start with the header of a close frame (opcode 8).
bool IsCloseFrame(const std::uint8_t* frame, std::size_t length);

// One unfragmented, unmasked text frame carrying `text`.
std::string BuildTextFrame(const std::string& text);
