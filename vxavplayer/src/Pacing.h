#pragma once
// Playback speed: the page's speed integers mapped to a rate factor.
//   0       normal speed
//   n > 0   2^n times faster (1: x2, 2: x4, 3: x8, 4: x16)
//   n < 0   2^n times slower (-1: x1/2, -2: x1/4, -3: x1/8, -4: x1/16)
// Values beyond +-4 are taken as +-4.
namespace vxav {

double SpeedFactor(int speed);
// Microseconds between two pictures at `frameRate` (25 when unknown) and `speed`.
long long FrameIntervalMicros(int frameRate, int speed);

}  // namespace vxav
