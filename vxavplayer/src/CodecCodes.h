#pragma once
// The library's codec codes mapped to FFmpeg's.
extern "C" {
#include <libavcodec/codec_id.h>
}

namespace vxav {

AVCodecID VideoCodecId(int code);  // AV_CODEC_ID_NONE when unknown
AVCodecID AudioCodecId(int code);
// Sample rate implied by an audio code (0 when the stream says).
int AudioCodeSampleRate(int code);

}  // namespace vxav
