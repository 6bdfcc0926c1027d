#include "Mp4File.h"

#include <cstring>
#include <memory>

extern "C" {
#include <libavutil/mem.h>
}

#include "AvPointers.h"

namespace source {

namespace {

struct OutputFree {
    void operator()(AVFormatContext* p) const {
        if (p->pb != nullptr) {
            std::uint8_t* buffer = nullptr;
            avio_close_dyn_buf(p->pb, &buffer);
            av_free(buffer);
            p->pb = nullptr;
        }
        avformat_free_context(p);
    }
};

AVCodecID CodecId(WireCodec codec) {
    switch (codec) {
        case WireCodec::H264: return AV_CODEC_ID_H264;
        case WireCodec::H265: return AV_CODEC_ID_HEVC;
        case WireCodec::Mjpeg: return AV_CODEC_ID_MJPEG;
        default: return AV_CODEC_ID_NONE;
    }
}

// The parameter-set NAL units in front of a key frame's picture, in Annex B form.
std::string ParameterSets(WireCodec codec, const std::string& unit) {
    std::string sets;
    std::size_t at = 0;
    auto nextStart = [&](std::size_t from) {
        std::size_t p = unit.find(std::string("\0\0\1", 3), from);
        return p == std::string::npos ? unit.size() : p;
    };
    at = nextStart(0);
    while (at < unit.size()) {
        const std::size_t body = at + 3;
        std::size_t end = nextStart(body);
        const std::size_t next = end;
        while (end > body && unit[end - 1] == '\0') --end;  // a 4-byte start code's leading zero
        if (body < unit.size()) {
            const auto b = static_cast<unsigned char>(unit[body]);
            const int type = codec == WireCodec::H264 ? (b & 0x1F) : ((b >> 1) & 0x3F);
            const bool isSet = codec == WireCodec::H264 ? (type == 7 || type == 8) : (type >= 32 && type <= 34);
            if (isSet) sets += std::string("\0\0\0\1", 4) + unit.substr(body, end - body);
        }
        at = next;
    }
    return sets;
}

}  // namespace

std::optional<std::string> BuildMp4File(const VideoLoop& loop, std::int64_t frames, std::string& error) {
    if (loop.units.empty() || frames <= 0 || CodecId(loop.codec) == AV_CODEC_ID_NONE) {
        error = "nothing to put in a file";
        return std::nullopt;
    }
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", nullptr) < 0) {
        error = "mp4 muxer not available";
        return std::nullopt;
    }
    std::unique_ptr<AVFormatContext, OutputFree> output(raw);
    AVStream* stream = avformat_new_stream(raw, nullptr);
    if (stream == nullptr || avio_open_dyn_buf(&raw->pb) < 0) {
        error = "out of memory";
        return std::nullopt;
    }
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = CodecId(loop.codec);
    par->width = loop.width;
    par->height = loop.height;
    par->format = loop.codec == WireCodec::Mjpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    const std::string sets = loop.codec == WireCodec::Mjpeg ? std::string() : ParameterSets(loop.codec, loop.units[0].data);
    if (!sets.empty()) {
        par->extradata = static_cast<std::uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(par->extradata, sets.data(), sets.size());
        par->extradata_size = static_cast<int>(sets.size());
    }
    stream->time_base = AVRational{1, loop.fps};
    stream->avg_frame_rate = AVRational{loop.fps, 1};
    AVDictionary* options = nullptr;
    // Written front to back into memory: no index to go back and fix.
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    const int header = avformat_write_header(raw, &options);
    av_dict_free(&options);
    if (header < 0) {
        error = "mp4 header";
        return std::nullopt;
    }
    PacketPtr packet(av_packet_alloc());
    for (std::int64_t i = 0; i < frames; ++i) {
        const AccessUnit& unit = loop.units[static_cast<std::size_t>(i) % loop.units.size()];
        if (av_new_packet(packet.get(), static_cast<int>(unit.data.size())) < 0) {
            error = "out of memory";
            return std::nullopt;
        }
        std::memcpy(packet->data, unit.data.data(), unit.data.size());
        packet->stream_index = stream->index;
        packet->pts = packet->dts = av_rescale_q(i, AVRational{1, loop.fps}, stream->time_base);
        packet->duration = av_rescale_q(1, AVRational{1, loop.fps}, stream->time_base);
        if (unit.key) packet->flags |= AV_PKT_FLAG_KEY;
        const int written = av_write_frame(raw, packet.get());
        av_packet_unref(packet.get());
        if (written < 0) {
            error = "mp4 packet";
            return std::nullopt;
        }
    }
    if (av_write_trailer(raw) < 0) {
        error = "mp4 trailer";
        return std::nullopt;
    }
    std::uint8_t* buffer = nullptr;
    const int size = avio_close_dyn_buf(raw->pb, &buffer);
    raw->pb = nullptr;
    std::string file(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
    av_free(buffer);
    return file;
}

}  // namespace source
