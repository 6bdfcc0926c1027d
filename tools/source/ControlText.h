#pragma once
// Control texts a viewer sends during playback or download (see README.md).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace source {

struct Control {
    enum class Kind { None, Pause, Resume, Seek, Speed, Stop, Other };
    Kind kind = Kind::None;            // None: not a JSON object with an "action"
    std::string action;                // as received
    std::optional<std::int64_t> time;  // seek target, seconds of stream time
    std::optional<double> speed;       // speed value as sent (see SpeedFactor)
};

Control ParseControl(std::string_view text);

}  // namespace source
