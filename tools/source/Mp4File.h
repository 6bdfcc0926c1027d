#pragma once
// A recorded file for whole-file downloads: `frames` frames of a video loop (looped as often as
// needed) muxed into a fragmented MP4 in memory. Any thread (the encoder pool builds it).

#include <cstdint>
#include <optional>
#include <string>

#include "MediaLoops.h"

namespace source {

std::optional<std::string> BuildMp4File(const VideoLoop& loop, std::int64_t frames, std::string& error);

}  // namespace source
