#include "VideoEncoder.h"

#include <cstring>

extern "C" {
#include <libavutil/opt.h>
}

#include "AvPointers.h"
#include "PatternPainter.h"

namespace source {

namespace {

const char* EncoderName(WireCodec codec) {
    switch (codec) {
        case WireCodec::H264: return "libx264";
        case WireCodec::H265: return "libx265";
        case WireCodec::Mjpeg: return "mjpeg";
        default: return nullptr;
    }
}

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool Drain(AVCodecContext* ctx, AVPacket* pkt, VideoLoop& loop, std::string& error) {
    for (;;) {
        int r = avcodec_receive_packet(ctx, pkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) {
            error = "encoder: " + AvError(r);
            return false;
        }
        loop.units.push_back({std::string(reinterpret_cast<const char*>(pkt->data), pkt->size),
                              (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt);
    }
}

}  // namespace

bool EncodePatternLoop(WireCodec codec, int width, int height, int fps, VideoLoop& loop, std::string& error) {
    const char* name = EncoderName(codec);
    const AVCodec* encoder = name ? avcodec_find_encoder_by_name(name) : nullptr;
    if (!encoder) {
        error = std::string("encoder not available: ") + (name ? name : "?");
        return false;
    }
    CodecContextPtr ctx(avcodec_alloc_context3(encoder));
    if (!ctx) {
        error = "out of memory";
        return false;
    }
    ctx->width = width;
    ctx->height = height;
    ctx->time_base = AVRational{1, fps};
    ctx->framerate = AVRational{fps, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->color_range = AVCOL_RANGE_MPEG;
    ctx->gop_size = fps;
    ctx->max_b_frames = 0;
    ctx->thread_count = 2;
    const std::string keyint = std::to_string(fps);
    if (codec == WireCodec::H264) {
        av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        // Parameter sets in front of every key frame, so a viewer can join at any key frame.
        av_opt_set(ctx->priv_data, "x264-params",
                   ("keyint=" + keyint + ":min-keyint=" + keyint + ":scenecut=0:repeat-headers=1").c_str(), 0);
    } else if (codec == WireCodec::H265) {
        av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        av_opt_set(ctx->priv_data, "x265-params",
                   ("keyint=" + keyint + ":min-keyint=" + keyint +
                    ":scenecut=0:bframes=0:open-gop=0:repeat-headers=1:log-level=error")
                       .c_str(),
                   0);
    } else {
        // Limited-range 4:2:0 JPEG keeps the marker colour identical across all three codecs.
        ctx->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * 4;
    }
    if (codec != WireCodec::Mjpeg) av_opt_set(ctx->priv_data, "forced-idr", "1", 0);
    int r = avcodec_open2(ctx.get(), encoder, nullptr);
    if (r < 0) {
        error = std::string("cannot open ") + name + ": " + AvError(r);
        return false;
    }
    FramePtr frame(av_frame_alloc());
    PacketPtr pkt(av_packet_alloc());
    frame->format = ctx->pix_fmt;
    frame->width = width;
    frame->height = height;
    frame->color_range = AVCOL_RANGE_MPEG;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        error = "out of memory";
        return false;
    }
    loop.codec = codec;
    loop.width = width;
    loop.height = height;
    loop.fps = fps;
    loop.units.clear();
    const int count = kLoopSeconds * fps;
    for (int i = 0; i < count; ++i) {
        if (av_frame_make_writable(frame.get()) < 0) {
            error = "out of memory";
            return false;
        }
        YuvPicture pic = PaintPattern(width, height, i, count);
        for (int row = 0; row < height; ++row)
            std::memcpy(frame->data[0] + row * frame->linesize[0], &pic.y[row * width], width);
        for (int row = 0; row < height / 2; ++row) {
            std::memcpy(frame->data[1] + row * frame->linesize[1], &pic.u[row * (width / 2)], width / 2);
            std::memcpy(frame->data[2] + row * frame->linesize[2], &pic.v[row * (width / 2)], width / 2);
        }
        frame->pts = i;
        // Key frames exactly every fps frames make the loop seam and seek points predictable.
        frame->pict_type = i % fps == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        r = avcodec_send_frame(ctx.get(), frame.get());
        if (r < 0) {
            error = "encoder: " + AvError(r);
            return false;
        }
        if (!Drain(ctx.get(), pkt.get(), loop, error)) return false;
    }
    avcodec_send_frame(ctx.get(), nullptr);
    if (!Drain(ctx.get(), pkt.get(), loop, error)) return false;
    if (static_cast<int>(loop.units.size()) != count || !loop.units.front().key) {
        error = "encoder gave " + std::to_string(loop.units.size()) + " units for " + std::to_string(count) + " frames";
        return false;
    }
    return true;
}

}  // namespace source
