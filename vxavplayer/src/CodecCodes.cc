#include "vxavplayer/src/CodecCodes.h"

#include "VXAVPlayer.h"

namespace vxav {

AVCodecID VideoCodecId(int code) {
  switch (code) {
    case VX_CODEC_H264: return AV_CODEC_ID_H264;
    case VX_CODEC_H265: return AV_CODEC_ID_HEVC;
    case VX_CODEC_MJPEG: return AV_CODEC_ID_MJPEG;
    default: return AV_CODEC_ID_NONE;
  }
}

AVCodecID AudioCodecId(int code) {
  switch (code) {
    case VX_CODEC_G711A: return AV_CODEC_ID_PCM_ALAW;
    case VX_CODEC_G711U: return AV_CODEC_ID_PCM_MULAW;
    case VX_CODEC_AAC:
    case VX_CODEC_AAC_8K:
    case VX_CODEC_AAC_16K:
    case VX_CODEC_AAC_32K:
    case VX_CODEC_AAC_TALK: return AV_CODEC_ID_AAC;
    case VX_CODEC_MP2: return AV_CODEC_ID_MP2;
    default: return AV_CODEC_ID_NONE;
  }
}

int AudioCodeSampleRate(int code) {
  switch (code) {
    case VX_CODEC_G711A:
    case VX_CODEC_G711U:
    case VX_CODEC_AAC_8K: return 8000;
    case VX_CODEC_AAC_16K: return 16000;
    case VX_CODEC_AAC_32K: return 32000;
    default: return 0;
  }
}

}  // namespace vxav
