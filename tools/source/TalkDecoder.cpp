#include "TalkDecoder.h"

#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace source {

namespace {
AVCodecID TalkCodecId(int codec) {
    switch (codec) {
        case 16: case 1: return AV_CODEC_ID_PCM_ALAW;
        case 17: case 2: return AV_CODEC_ID_PCM_MULAW;
        case 21: case 39: return AV_CODEC_ID_AAC;
        default: return AV_CODEC_ID_NONE;
    }
}
}  // namespace

std::int64_t TalkDecoder::Decode(int codec, std::string_view payload) {
    if (codec != m_codec) {
        m_codec = codec;
        m_context.reset();
        const AVCodec* decoder = avcodec_find_decoder(TalkCodecId(codec));
        if (decoder == nullptr) return 0;
        CodecContextPtr context(avcodec_alloc_context3(decoder));
        context->sample_rate = 8000;
        av_channel_layout_default(&context->ch_layout, 1);
        if (avcodec_open2(context.get(), decoder, nullptr) < 0) return 0;
        m_context = std::move(context);
    }
    if (!m_context || payload.empty()) return 0;
    if (av_new_packet(m_packet.get(), static_cast<int>(payload.size())) < 0) return 0;
    std::memcpy(m_packet->data, payload.data(), payload.size());
    const int sent = avcodec_send_packet(m_context.get(), m_packet.get());
    av_packet_unref(m_packet.get());
    if (sent < 0) return 0;
    std::int64_t samples = 0;
    while (avcodec_receive_frame(m_context.get(), m_frame.get()) == 0) {
        samples += m_frame->nb_samples;
        av_frame_unref(m_frame.get());
    }
    return samples;
}

}  // namespace source
