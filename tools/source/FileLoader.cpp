#include "FileLoader.h"

#include "AvPointers.h"

namespace source {

bool LoadVideoFile(const std::string& path, VideoLoop& loop, std::string& error) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        error = "cannot open " + path;
        return false;
    }
    InputPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        error = "cannot read streams of " + path;
        return false;
    }
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        error = "no video in " + path;
        return false;
    }
    AVStream* stream = input->streams[index];
    const AVCodecParameters* par = stream->codecpar;
    const char* filter = nullptr;
    switch (par->codec_id) {
        case AV_CODEC_ID_H264: loop.codec = WireCodec::H264; filter = "h264_mp4toannexb"; break;
        case AV_CODEC_ID_HEVC: loop.codec = WireCodec::H265; filter = "hevc_mp4toannexb"; break;
        case AV_CODEC_ID_MJPEG: loop.codec = WireCodec::Mjpeg; break;
        default:
            error = std::string("video codec not served: ") + avcodec_get_name(par->codec_id);
            return false;
    }
    loop.width = par->width;
    loop.height = par->height;
    AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    loop.fps = rate.num > 0 && rate.den > 0 ? static_cast<int>(av_q2d(rate) + 0.5) : 25;
    if (loop.fps < 1 || loop.fps > 120) loop.fps = 25;

    BsfPtr bsf;
    if (filter) {
        AVBSFContext* b = nullptr;
        if (av_bsf_alloc(av_bsf_get_by_name(filter), &b) < 0) {
            error = std::string("no bitstream filter ") + filter;
            return false;
        }
        bsf.reset(b);
        avcodec_parameters_copy(bsf->par_in, par);
        bsf->time_base_in = stream->time_base;
        if (av_bsf_init(bsf.get()) < 0) {
            error = std::string("cannot start ") + filter;
            return false;
        }
    }

    loop.units.clear();
    const std::size_t limit = static_cast<std::size_t>(loop.fps) * kMaxFileSeconds;
    std::size_t lastKey = 0;
    PacketPtr pkt(av_packet_alloc());
    auto keep = [&](const AVPacket* p) {
        const bool key = (p->flags & AV_PKT_FLAG_KEY) != 0;
        if (loop.units.empty() && !key) return;  // start at a key frame
        if (key) lastKey = loop.units.size();
        loop.units.push_back({std::string(reinterpret_cast<const char*>(p->data), p->size), key});
    };
    while (loop.units.size() < limit && av_read_frame(input.get(), pkt.get()) >= 0) {
        if (pkt->stream_index != index) {
            av_packet_unref(pkt.get());
            continue;
        }
        if (!bsf) {
            keep(pkt.get());
            av_packet_unref(pkt.get());
            continue;
        }
        if (av_bsf_send_packet(bsf.get(), pkt.get()) < 0) {
            av_packet_unref(pkt.get());
            continue;
        }
        while (av_bsf_receive_packet(bsf.get(), pkt.get()) == 0) {
            keep(pkt.get());
            av_packet_unref(pkt.get());
        }
    }
    if (loop.units.size() >= limit && lastKey > 0) loop.units.resize(lastKey);
    if (loop.units.empty()) {
        error = "no key frame in " + path;
        return false;
    }
    return true;
}

}  // namespace source
