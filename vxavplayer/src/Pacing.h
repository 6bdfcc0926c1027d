#pragma once
// Playback speed: the page's speed integers, read the way stream sources read them.
//   0, 1, -1   normal speed
//   n > 1      n times faster (2: x2, 4: x4 ... 16: x16)
//   n < -1     |n| times slower (-2: x1/2 ... -16: x1/16)
// Values beyond +-16 are taken as +-16.
namespace vxav {

double SpeedFactor(int speed);
// Microseconds between two pictures at `frameRate` (25 when unknown) and `speed`.
long long FrameIntervalMicros(int frameRate, int speed);

}  // namespace vxav
