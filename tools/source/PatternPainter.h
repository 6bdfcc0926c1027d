#pragma once
// Draws the synthetic test picture straight into YUV 4:2:0 planes (BT.601, limited range):
//  - a grey luma ramp background;
//  - a solid red block over the top-left quarter-width x quarter-height (Y 81, U 90, V 240),
//    a colour that later checks can look for after decoding;
//  - a white bar that sweeps left to right once per loop, so motion is visible;
//  - the frame number in black digits on a white plate in the middle of the picture.

#include <cstdint>
#include <vector>

namespace source {

struct YuvPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y, u, v;  // plane strides: width, width / 2, width / 2
};

constexpr std::uint8_t kMarkY = 81, kMarkU = 90, kMarkV = 240;

YuvPicture PaintPattern(int width, int height, int frameNumber, int loopLength);

}  // namespace source
