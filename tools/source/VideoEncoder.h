#pragma once
// Encodes the synthetic pattern once into a loop that connections replay without encoding.

#include <string>

#include "MediaLoops.h"

namespace source {

constexpr int kLoopSeconds = 2;

// A loop of kLoopSeconds * fps frames, a key frame every fps frames, no B-frames (access
// units go out in decode order with no reordering). On failure returns false with `error`.
bool EncodePatternLoop(WireCodec codec, int width, int height, int fps, VideoLoop& loop, std::string& error);

}  // namespace source
