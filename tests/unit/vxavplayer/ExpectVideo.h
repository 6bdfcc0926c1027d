#pragma once
// One expectation per value of a file's first video stream, as ffprobe reads it.
#include <gtest/gtest.h>

#include "MediaFixtures.h"

namespace vxtest {

inline void ExpectVideo(const std::string& path, const std::string& codec, int width, int height, int frames,
                        double duration) {
  const ProbeResult video = Probe(path, "v");
  EXPECT_EQ(video.codec, codec);
  EXPECT_EQ(video.width, width);
  EXPECT_EQ(video.height, height);
  EXPECT_EQ(video.frames, frames);
  EXPECT_NEAR(video.duration, duration, 0.15);
}

}  // namespace vxtest
