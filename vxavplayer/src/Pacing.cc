#include "vxavplayer/src/Pacing.h"

#include <algorithm>

namespace vxav {

double SpeedFactor(int speed) {
  const int clamped = std::max(-16, std::min(16, speed));
  if (clamped > 1) return clamped;
  if (clamped < -1) return 1.0 / -clamped;
  return 1.0;
}

long long FrameIntervalMicros(int frameRate, int speed) {
  const int rate = frameRate > 0 && frameRate <= 240 ? frameRate : 25;
  return static_cast<long long>(1000000.0 / (rate * SpeedFactor(speed)));
}

}  // namespace vxav
