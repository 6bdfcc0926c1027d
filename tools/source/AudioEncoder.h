#pragma once
// A looped test tone: G.711 blocks of 40 ms at 8000 Hz, or AAC-LC ADTS frames.

#include <string>

#include "MediaLoops.h"
#include "StreamParams.h"

namespace source {

bool EncodeToneLoop(AudioKind kind, int sampleRate, AudioLoop& loop, std::string& error);

// G.711 companding of one 16-bit sample.
std::uint8_t LinearToAlaw(std::int16_t sample);
std::uint8_t LinearToUlaw(std::int16_t sample);

}  // namespace source
