#pragma once
// What one connection asks for, read from the query of its URL (and, for playback and
// download, the time range of its request text when the URL gives none).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "MediaHeader.h"

namespace source {

enum class StreamMode { Live, Playback, Download, Talk };
enum class AudioKind { None, G711A, G711U, Aac };
// A misbehaviour played instead of the normal answer, for the viewer's fault tests.
enum class Fault { None, Refuse, Stall, Trickle, Silent, Reset, Garbage, Oversize };

struct StreamParams {
    WireCodec codec = WireCodec::H264;
    int width = 640;
    int height = 360;
    int fps = 25;
    AudioKind audio = AudioKind::None;
    int audioRate = 0;                 // 0: the codec's default (8000 G.711, 16000 AAC)
    StreamMode mode = StreamMode::Live;
    std::optional<int> code;           // answer this code instead of streaming
    std::optional<std::int64_t> frames;  // end of data (302) after this many video frames
    bool dot = false;
    std::size_t fragment = 0;          // 0: one frame per message
    std::optional<std::uint32_t> start;  // stream time range, seconds
    std::optional<std::uint32_t> end;
    double speed = 1.0;
    bool paced = false;                // download at the frame rate instead of at socket speed
    bool wholeFile = false;            // download an .mp4 file in pieces instead of frames
    Fault fault = Fault::None;
};

struct ParseResult {
    std::optional<StreamParams> params;
    std::string error;
};

// Parses the request target ("/any/path?codec=h265&fps=30..."). Unknown keys are ignored so
// that URLs built for real sources work; bad values of known keys are errors.
ParseResult ParseTarget(std::string_view target);

// Applies what the first text of a connection carries: "data"."startTime"/"endTime" (decimal
// text or integer) when the URL named no range, and "data"."speed".
void ApplyRequestText(std::string_view text, StreamParams& params);

// Frame-rate multiplier for a speed value: S > 0 plays S times as fast, S < 0 plays |S|
// times as slow (-2 = half speed), 0 is not a speed.
std::optional<double> SpeedFactor(double value);

const char* ModeName(StreamMode mode);
const char* CodecName(WireCodec codec);
const char* AudioName(AudioKind audio);
const char* FaultName(Fault fault);
// Names the codec byte of talk audio a viewer sent: viewers may use the wire codes or their
// own audio codes (1, 2, 39, 22), so both are recognised.
const char* TalkCodecName(int code);

}  // namespace source
