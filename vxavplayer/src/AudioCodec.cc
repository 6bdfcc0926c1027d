#include "vxavplayer/src/AudioCodec.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "vxavplayer/src/CodecCodes.h"

namespace vxav {

namespace {

const int kAdtsRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

int AdtsRateIndex(int rate) {
  for (int i = 0; i < 13; ++i) {
    if (kAdtsRates[i] == rate) return i;
  }
  return 11;
}

}  // namespace

namespace {

// Length of the MPEG audio layer II frame starting at `d`, or 0 when no such header is there.
int Mp2FrameLength(const std::uint8_t* d, int size) {
  if (size < 4 || d[0] != 0xFF || (d[1] & 0xE0) != 0xE0) return 0;
  const int version = (d[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  const int layer = (d[1] >> 1) & 3;    // 2 = layer II
  const int bitrateIndex = d[2] >> 4;
  const int rateIndex = (d[2] >> 2) & 3;
  if (version == 1 || layer != 2 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
  static const int kMpeg1[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
  static const int kMpeg2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static const int kRates[] = {44100, 48000, 32000};
  const int bitrate = (version == 3 ? kMpeg1 : kMpeg2)[bitrateIndex] * 1000;
  const int rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  return 144 * bitrate / rate + ((d[2] >> 1) & 1);
}

}  // namespace

bool LooksLikeMp2(const std::uint8_t* data, int size) {
  int at = 0;
  while (at < size) {
    const int length = Mp2FrameLength(data + at, size - at);
    if (length <= 0 || at + length > size) return false;
    at += length;
  }
  return size > 0;
}

bool ParseAdts(const std::uint8_t* d, int size, int* headerSize, std::uint8_t config[2], int* sampleRate,
               int* channels) {
  if (size < 7 || d[0] != 0xFF || (d[1] & 0xF0) != 0xF0) return false;
  const int profile = (d[2] >> 6) & 3;
  const int rateIndex = (d[2] >> 2) & 0xF;
  const int channelConfig = ((d[2] & 1) << 2) | (d[3] >> 6);
  if (rateIndex > 12) return false;
  *headerSize = (d[1] & 1) ? 7 : 9;
  const int objectType = profile + 1;
  config[0] = static_cast<std::uint8_t>((objectType << 3) | (rateIndex >> 1));
  config[1] = static_cast<std::uint8_t>(((rateIndex & 1) << 7) | (channelConfig << 3));
  *sampleRate = kAdtsRates[rateIndex];
  *channels = channelConfig == 0 ? 1 : channelConfig;
  return size > *headerSize;
}

std::vector<std::uint8_t> AdtsWrap(const std::uint8_t* data, int size, int sampleRate, int channels) {
  const int length = size + 7;
  const int rateIndex = AdtsRateIndex(sampleRate);
  std::vector<std::uint8_t> out(static_cast<size_t>(length));
  out[0] = 0xFF;
  out[1] = 0xF1;
  out[2] = static_cast<std::uint8_t>((1 << 6) | (rateIndex << 2) | ((channels >> 2) & 1));
  out[3] = static_cast<std::uint8_t>(((channels & 3) << 6) | ((length >> 11) & 3));
  out[4] = static_cast<std::uint8_t>((length >> 3) & 0xFF);
  out[5] = static_cast<std::uint8_t>(((length & 7) << 5) | 0x1F);
  out[6] = 0xFC;
  std::copy(data, data + size, out.begin() + 7);
  return out;
}

bool AudioDecoder::Open(int codecCode, const std::uint8_t* data, int size) {
  m_context.reset();
  m_swr.reset();
  m_code = 0;
  const AVCodec* codec = avcodec_find_decoder(AudioCodecId(codecCode));
  if (codec == nullptr) return false;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return false;
  int rate = AudioCodeSampleRate(codecCode);
  int channels = 1;
  std::uint8_t config[2];
  int headerSize = 0;
  if (codec->id == AV_CODEC_ID_AAC && !ParseAdts(data, size, &headerSize, config, &rate, &channels)) {
    // Raw AAC frames: describe them as LC mono at the code's rate.
    if (rate == 0) rate = 8000;
    context->extradata = static_cast<std::uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
    context->extradata[0] = static_cast<std::uint8_t>((2 << 3) | (AdtsRateIndex(rate) >> 1));
    context->extradata[1] = static_cast<std::uint8_t>(((AdtsRateIndex(rate) & 1) << 7) | (1 << 3));
    context->extradata_size = 2;
  }
  context->sample_rate = rate > 0 ? rate : 8000;
  av_channel_layout_default(&context->ch_layout, channels);
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return false;
  m_context = std::move(context);
  m_code = codecCode;
  return true;
}

bool AudioDecoder::Decode(int codecCode, const std::uint8_t* data, int size, const PcmSink& sink) {
  if (codecCode != m_code || !m_context) {
    if (!Open(codecCode, data, size)) return false;
  }
  m_packet->data = const_cast<std::uint8_t*>(data);
  m_packet->size = size;
  const int sent = avcodec_send_packet(m_context.get(), m_packet.get());
  m_packet->data = nullptr;
  m_packet->size = 0;
  if (sent < 0 && sent != AVERROR(EAGAIN)) return true;  // a corrupt block is dropped
  while (avcodec_receive_frame(m_context.get(), m_frame.get()) == 0) {
    const int channels = std::min(2, m_frame->ch_layout.nb_channels);
    if (!m_swr || m_swrRate != m_frame->sample_rate || m_swrChannels != channels ||
        m_swrFormat != m_frame->format) {
      AVChannelLayout out;
      av_channel_layout_default(&out, channels);
      SwrContext* swr = nullptr;
      swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, m_frame->sample_rate, &m_frame->ch_layout,
                          static_cast<AVSampleFormat>(m_frame->format), m_frame->sample_rate, 0, nullptr);
      m_swr.reset(swr);
      if (!m_swr || swr_init(m_swr.get()) < 0) {
        m_swr.reset();
        av_frame_unref(m_frame.get());
        continue;
      }
      m_swrRate = m_frame->sample_rate;
      m_swrChannels = channels;
      m_swrFormat = m_frame->format;
    }
    m_pcm.resize(static_cast<size_t>(m_frame->nb_samples + 32) * channels);
    std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(m_pcm.data())};
    const int count = swr_convert(m_swr.get(), out, m_frame->nb_samples + 32,
                                  const_cast<const std::uint8_t**>(m_frame->extended_data), m_frame->nb_samples);
    if (count > 0) sink(PcmBlock{m_pcm.data(), count, m_frame->sample_rate, channels});
    av_frame_unref(m_frame.get());
  }
  return true;
}

bool AudioEncoder::Open(AVCodecID id, int sampleRate, int channels) {
  const AVCodec* codec = avcodec_find_encoder(id);
  if (codec == nullptr || sampleRate <= 0 || channels <= 0) return false;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return false;
  int rate = sampleRate;
  if (codec->supported_samplerates != nullptr) {
    int best = 0;
    bool exact = false;
    for (const int* r = codec->supported_samplerates; *r != 0; ++r) {
      if (*r == sampleRate) exact = true;
      if (*r >= sampleRate && (best == 0 || *r < best)) best = *r;
    }
    if (!exact) rate = best != 0 ? best : codec->supported_samplerates[0];
  }
  context->sample_rate = rate;
  av_channel_layout_default(&context->ch_layout, channels);
  context->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  context->time_base = AVRational{1, rate};
  if (id == AV_CODEC_ID_AAC) {
    context->bit_rate = 32000;
    // The default two-loop search costs several times the decoding of a whole video stream.
    av_opt_set(context->priv_data, "aac_coder", "fast", 0);
  }
  if (id == AV_CODEC_ID_MP2) context->bit_rate = 64000;
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return false;
  if (rate != sampleRate) {
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    SwrContext* swr = nullptr;
    swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_S16, rate, &layout, AV_SAMPLE_FMT_S16, sampleRate, 0, nullptr);
    m_resample.reset(swr);
    if (!m_resample || swr_init(m_resample.get()) < 0) return false;
  }
  // Block codecs take whole frames; G.711 takes any count, here 20 ms blocks.
  m_frameSize = context->frame_size > 0 ? context->frame_size : rate / 50;
  m_context = std::move(context);
  return true;
}

void AudioEncoder::SendFrame(const PacketSink& sink) {
  AVCodecContext* c = m_context.get();
  const int channels = c->ch_layout.nb_channels;
  av_frame_unref(m_frame.get());
  m_frame->nb_samples = m_frameSize;
  m_frame->format = c->sample_fmt;
  m_frame->sample_rate = c->sample_rate;
  av_channel_layout_copy(&m_frame->ch_layout, &c->ch_layout);
  if (av_frame_get_buffer(m_frame.get(), 0) < 0) return;
  const std::int16_t* in = m_fifo.data();
  for (int i = 0; i < m_frameSize; ++i) {
    for (int ch = 0; ch < channels; ++ch) {
      const std::int16_t v = in[i * channels + ch];
      switch (c->sample_fmt) {
        case AV_SAMPLE_FMT_FLTP: reinterpret_cast<float*>(m_frame->extended_data[ch])[i] = v / 32768.0f; break;
        case AV_SAMPLE_FMT_FLT: reinterpret_cast<float*>(m_frame->data[0])[i * channels + ch] = v / 32768.0f; break;
        case AV_SAMPLE_FMT_S16P: reinterpret_cast<std::int16_t*>(m_frame->extended_data[ch])[i] = v; break;
        default: reinterpret_cast<std::int16_t*>(m_frame->data[0])[i * channels + ch] = v; break;
      }
    }
  }
  m_fifo.erase(m_fifo.begin(), m_fifo.begin() + static_cast<long>(m_frameSize) * channels);
  m_frame->pts = m_pts;
  m_pts += m_frameSize;
  if (avcodec_send_frame(c, m_frame.get()) < 0) return;
  while (avcodec_receive_packet(c, m_packet.get()) == 0) {
    sink(m_packet.get());
    av_packet_unref(m_packet.get());
  }
}

void AudioEncoder::Encode(const std::int16_t* samples, int count, const PacketSink& sink) {
  if (!m_context || count <= 0) return;
  const int channels = m_context->ch_layout.nb_channels;
  if (m_resample) {
    const int room = swr_get_out_samples(m_resample.get(), count) + 16;
    m_converted.resize(static_cast<size_t>(room) * channels);
    std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(m_converted.data())};
    const std::uint8_t* in[1] = {reinterpret_cast<const std::uint8_t*>(samples)};
    const int produced = swr_convert(m_resample.get(), out, room, in, count);
    if (produced <= 0) return;
    samples = m_converted.data();
    count = produced;
  }
  m_fifo.insert(m_fifo.end(), samples, samples + static_cast<long>(count) * channels);
  while (static_cast<int>(m_fifo.size()) >= m_frameSize * channels) SendFrame(sink);
}

}  // namespace vxav
