#pragma once
// Owning pointers for the FFmpeg objects this tool uses, each with its own free function.

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

namespace source {

struct CodecContextFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameFree {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct InputFree {
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct BsfFree {
    void operator()(AVBSFContext* p) const { av_bsf_free(&p); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using InputPtr = std::unique_ptr<AVFormatContext, InputFree>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfFree>;

}  // namespace source
