#pragma once
// Encoded material that connections loop over. Built once, then shared read-only by any
// number of connections on any thread.

#include <string>
#include <vector>

#include "MediaHeader.h"

namespace source {

struct AccessUnit {
    std::string data;  // Annex B access unit, or one JPEG picture
    bool key = false;
};

struct VideoLoop {
    WireCodec codec = WireCodec::H264;
    int width = 0;
    int height = 0;
    int fps = 25;
    std::vector<AccessUnit> units;  // starts with a key frame
};

struct AudioLoop {
    WireCodec codec = WireCodec::G711A;
    int sampleRate = 8000;
    int samplesPerBlock = 320;      // 40 ms of G.711; 1024 per AAC frame
    std::vector<std::string> blocks;  // G.711 bytes, or AAC ADTS frames
};

}  // namespace source
