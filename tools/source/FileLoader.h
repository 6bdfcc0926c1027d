#pragma once
// Reads the video of a recorded file (--file) into a loop: H.264/H.265 converted to Annex B,
// MJPEG pictures as they are.

#include <string>

#include "MediaLoops.h"

namespace source {

// At most this many seconds of the file are kept; the loop ends before the last key frame
// after that point so the seam stays decodable.
constexpr int kMaxFileSeconds = 30;

bool LoadVideoFile(const std::string& path, VideoLoop& loop, std::string& error);

}  // namespace source
