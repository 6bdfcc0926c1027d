#include "vxavplayer/src/Pacing.h"

#include <algorithm>
#include <cmath>

namespace vxav {

double SpeedFactor(int speed) {
  const int clamped = std::max(-4, std::min(4, speed));
  return std::ldexp(1.0, clamped);
}

long long FrameIntervalMicros(int frameRate, int speed) {
  const int rate = frameRate > 0 && frameRate <= 240 ? frameRate : 25;
  return static_cast<long long>(1000000.0 / (rate * SpeedFactor(speed)));
}

}  // namespace vxav
