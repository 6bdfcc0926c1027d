#include "AudioEncoder.h"

#include <cmath>
#include <vector>

#include "AvPointers.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace source {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kToneHz = 500;  // a whole number of cycles in every block
constexpr int kG711Block = 320;

float ToneSample(long n, int rate) { return 0.25f * static_cast<float>(std::sin(2 * kPi * kToneHz * n / rate)); }

int SampleRateIndex(int rate) {
    static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
    for (int i = 0; i < 13; ++i)
        if (kRates[i] == rate) return i;
    return -1;
}

std::string AdtsHeader(int rateIndex, int channels, std::size_t payload) {
    const std::size_t length = payload + 7;
    std::string h(7, '\0');
    h[0] = static_cast<char>(0xff);
    h[1] = static_cast<char>(0xf1);  // MPEG-4, layer 0, no CRC
    h[2] = static_cast<char>((1 << 6) | (rateIndex << 2) | (channels >> 2));  // profile LC
    h[3] = static_cast<char>(((channels & 3) << 6) | (length >> 11));
    h[4] = static_cast<char>((length >> 3) & 0xff);
    h[5] = static_cast<char>(((length & 7) << 5) | 0x1f);
    h[6] = static_cast<char>(0xfc);
    return h;
}

bool EncodeAac(int rate, AudioLoop& loop, std::string& error) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    const int rateIndex = SampleRateIndex(rate);
    if (!encoder || rateIndex < 0) {
        error = "no AAC encoder for this rate";
        return false;
    }
    CodecContextPtr ctx(avcodec_alloc_context3(encoder));
    ctx->sample_rate = rate;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->bit_rate = 32000;
    ctx->time_base = AVRational{1, rate};
    if (avcodec_open2(ctx.get(), encoder, nullptr) < 0) {
        error = "cannot open the AAC encoder";
        return false;
    }
    FramePtr frame(av_frame_alloc());
    PacketPtr pkt(av_packet_alloc());
    frame->format = ctx->sample_fmt;
    frame->nb_samples = ctx->frame_size;
    frame->sample_rate = rate;
    av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        error = "out of memory";
        return false;
    }
    loop.codec = WireCodec::Aac;
    loop.sampleRate = rate;
    loop.samplesPerBlock = ctx->frame_size;
    loop.blocks.clear();
    const int frames = 2 * rate / ctx->frame_size;
    long n = 0;
    auto drain = [&]() {
        while (avcodec_receive_packet(ctx.get(), pkt.get()) == 0) {
            loop.blocks.push_back(AdtsHeader(rateIndex, 1, pkt->size) +
                                  std::string(reinterpret_cast<const char*>(pkt->data), pkt->size));
            av_packet_unref(pkt.get());
        }
    };
    for (int f = 0; f < frames; ++f) {
        av_frame_make_writable(frame.get());
        auto* samples = reinterpret_cast<float*>(frame->data[0]);
        for (int i = 0; i < frame->nb_samples; ++i) samples[i] = ToneSample(n++, rate);
        frame->pts = static_cast<std::int64_t>(f) * ctx->frame_size;
        if (avcodec_send_frame(ctx.get(), frame.get()) < 0) {
            error = "AAC encoding failed";
            return false;
        }
        drain();
    }
    avcodec_send_frame(ctx.get(), nullptr);
    drain();
    if (loop.blocks.empty()) {
        error = "AAC encoder gave nothing";
        return false;
    }
    return true;
}

}  // namespace

std::uint8_t LinearToAlaw(std::int16_t sample) {
    int pcm = sample >> 3;  // 13-bit
    int mask;
    if (pcm >= 0) {
        mask = 0xd5;
    } else {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    static const int kSegEnd[8] = {0x1f, 0x3f, 0x7f, 0xff, 0x1ff, 0x3ff, 0x7ff, 0xfff};
    int seg = 0;
    while (seg < 8 && pcm > kSegEnd[seg]) ++seg;
    if (seg >= 8) return static_cast<std::uint8_t>(0x7f ^ mask);
    int aval = seg << 4;
    aval |= seg < 2 ? (pcm >> 1) & 0x0f : (pcm >> seg) & 0x0f;
    return static_cast<std::uint8_t>(aval ^ mask);
}

std::uint8_t LinearToUlaw(std::int16_t sample) {
    constexpr int kBias = 0x84;
    constexpr int kClip = 32635;
    int pcm = sample;
    int sign = (pcm >> 8) & 0x80;
    if (sign) pcm = -pcm;
    if (pcm > kClip) pcm = kClip;
    pcm += kBias;
    int exponent = 7;
    for (int mask = 0x4000; (pcm & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
    int mantissa = (pcm >> (exponent + 3)) & 0x0f;
    return static_cast<std::uint8_t>(~(sign | (exponent << 4) | mantissa));
}

bool EncodeToneLoop(AudioKind kind, int sampleRate, AudioLoop& loop, std::string& error) {
    if (kind == AudioKind::Aac) return EncodeAac(sampleRate ? sampleRate : 16000, loop, error);
    if (kind != AudioKind::G711A && kind != AudioKind::G711U) {
        error = "no audio";
        return false;
    }
    loop.codec = kind == AudioKind::G711A ? WireCodec::G711A : WireCodec::G711U;
    loop.sampleRate = 8000;
    loop.samplesPerBlock = kG711Block;
    loop.blocks.clear();
    long n = 0;
    for (int b = 0; b < 25; ++b) {  // one second
        std::string block(kG711Block, '\0');
        for (auto& c : block) {
            auto s = static_cast<std::int16_t>(ToneSample(n++, 8000) * 32767);
            c = static_cast<char>(kind == AudioKind::G711A ? LinearToAlaw(s) : LinearToUlaw(s));
        }
        loop.blocks.push_back(std::move(block));
    }
    return true;
}

}  // namespace source
