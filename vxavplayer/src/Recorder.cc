#include "vxavplayer/src/Recorder.h"

#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "VXAVPlayer.h"
#include "vxavplayer/src/CodecCodes.h"

namespace vxav {

void FormatContextClose::operator()(AVFormatContext* f) const {
  f->pb = nullptr;  // the recorder's OutputIo owns it
  avformat_free_context(f);
}

namespace {

// Containers a recording or download may take: each writes the one file it is given and nothing
// else (a playlist or segment muxer would open files of its own choosing).
bool AllowedContainer(const AVOutputFormat* format) {
  static const char* const kNames[] = {"mp4", "mov", "matroska", "mpegts", "avi", "flv"};
  for (const char* name : kNames) {
    if (std::strcmp(format->name, name) == 0) return true;
  }
  return false;
}

bool Fragmented(const AVOutputFormat* format) {
  return std::strcmp(format->name, "mp4") == 0 || std::strcmp(format->name, "mov") == 0;
}

// Muxers are never allowed to open further files.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

// Dimensions of a key frame, read by decoding it once.
bool ProbeVideo(int videoCode, const std::uint8_t* data, int size, int* width, int* height, int* format) {
  const AVCodec* codec = avcodec_find_decoder(VideoCodecId(videoCode));
  if (codec == nullptr) return false;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context || avcodec_open2(context.get(), codec, nullptr) < 0) return false;
  PacketPtr packet = MakePacket();
  packet->data = const_cast<std::uint8_t*>(data);
  packet->size = size;
  avcodec_send_packet(context.get(), packet.get());
  avcodec_send_packet(context.get(), nullptr);
  FramePtr frame = MakeFrame();
  if (avcodec_receive_frame(context.get(), frame.get()) == 0) {
    *width = frame->width;
    *height = frame->height;
    *format = frame->format;
  } else {
    *width = context->width;
    *height = context->height;
    *format = context->pix_fmt;
  }
  return *width > 0 && *height > 0;
}

}  // namespace

std::unique_ptr<Recorder> Recorder::Create(const std::string& path, int videoCode, int audioCode, int frameRate,
                                           int* error) {
  *error = VX_ERR_PARAM;
  if (path.empty()) return nullptr;
  if (videoCode != 0 && VideoCodecId(videoCode) == AV_CODEC_ID_NONE) {
    *error = VX_ERR_CODEC;
    return nullptr;
  }
  if (videoCode == 0 && AudioCodecId(audioCode) == AV_CODEC_ID_NONE) {
    *error = VX_ERR_CODEC;
    return nullptr;
  }
  const AVOutputFormat* format = av_guess_format(nullptr, path.c_str(), nullptr);
  if (format == nullptr || !AllowedContainer(format)) return nullptr;
  if (videoCode != 0 && avformat_query_codec(format, VideoCodecId(videoCode), FF_COMPLIANCE_NORMAL) == 0) {
    *error = VX_ERR_CODEC;
    return nullptr;
  }
  // Open the file now so a bad path fails at start rather than at the first key frame.
  auto io = OutputIo::Open(path);
  if (!io) {
    *error = VX_ERR_FILE;
    return nullptr;
  }
  std::unique_ptr<Recorder> recorder(new Recorder());
  recorder->m_io = std::move(io);
  recorder->m_path = path;
  recorder->m_format = format;
  recorder->m_videoCode = videoCode;
  recorder->m_audioCode = AudioCodecId(audioCode) != AV_CODEC_ID_NONE ? audioCode : 0;
  recorder->m_frameRate = frameRate > 0 && frameRate <= 240 ? frameRate : 25;
  *error = VX_OK;
  return recorder;
}

Recorder::~Recorder() { Close(); }

int Recorder::Fail() {
  m_failed = true;
  return VX_ERR_FILE;
}

bool Recorder::AddAudioStream() {
  const AVCodecID id = AudioCodecId(m_audioCode);
  const int copyable = avformat_query_codec(m_format, id, FF_COMPLIANCE_NORMAL);
  int rate = AudioCodeSampleRate(m_audioCode);
  int channels = 1;
  std::uint8_t config[2] = {0, 0};
  int headerSize = 0;
  bool adts = false;
  if (id == AV_CODEC_ID_AAC && !m_earlyAudio.empty()) {
    const auto& first = m_earlyAudio.front();
    adts = ParseAdts(first.data(), static_cast<int>(first.size()), &headerSize, config, &rate, &channels);
  }
  if (rate == 0) rate = id == AV_CODEC_ID_MP2 ? 0 : 8000;
  m_audio = avformat_new_stream(m_output.get(), nullptr);
  if (m_audio == nullptr) return false;
  AVCodecParameters* par = m_audio->codecpar;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  m_transcode = copyable != 1 || (id == AV_CODEC_ID_AAC && !adts) || (id == AV_CODEC_ID_MP2);
  if (id == AV_CODEC_ID_MP2 && copyable == 1 && !m_earlyAudio.empty()) {
    // MP2 frame header: rate and channel mode tell the copy parameters.
    const auto& h = m_earlyAudio.front();
    static const int kRates[] = {44100, 48000, 32000};
    const int ri = h.size() > 3 ? (h[2] >> 2) & 3 : 3;
    if (h.size() > 3 && h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 && ri < 3) {
      const int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
      rate = kRates[ri] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
      channels = ((h[3] >> 6) & 3) == 3 ? 1 : 2;
      m_transcode = false;
    }
  }
  if (m_transcode) {
    // Learn the decoded format from the blocks held back, then encode AAC at that format.
    m_decoder = std::make_unique<AudioDecoder>();
    int decodedRate = 0;
    int decodedChannels = 0;
    for (const auto& block : m_earlyAudio) {
      m_decoder->Decode(m_audioCode, block.data(), static_cast<int>(block.size()), [&](const PcmBlock& pcm) {
        decodedRate = pcm.sampleRate;
        decodedChannels = pcm.channels;
      });
      if (decodedRate > 0) break;
    }
    m_decoder = std::make_unique<AudioDecoder>();  // start again from the first block
    if (decodedRate == 0) {
      decodedRate = rate > 0 ? rate : 8000;
      decodedChannels = 1;
    }
    m_encoder = std::make_unique<AudioEncoder>();
    if (!m_encoder->Open(AV_CODEC_ID_AAC, decodedRate, decodedChannels)) return false;
    if (avformat_query_codec(m_format, AV_CODEC_ID_AAC, FF_COMPLIANCE_NORMAL) == 0) return false;
    avcodec_parameters_from_context(par, m_encoder->Context());
    m_audioRate = m_encoder->Context()->sample_rate;
  } else {
    par->codec_id = id;
    par->sample_rate = rate;
    av_channel_layout_default(&par->ch_layout, channels);
    if (id == AV_CODEC_ID_PCM_ALAW || id == AV_CODEC_ID_PCM_MULAW) {
      par->bits_per_coded_sample = 8;
      par->block_align = channels;
      par->bit_rate = 8LL * rate * channels;
    }
    if (id == AV_CODEC_ID_AAC) {
      par->extradata = static_cast<std::uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
      std::memcpy(par->extradata, config, 2);
      par->extradata_size = 2;
      par->frame_size = 1024;
    }
    m_audioRate = rate;
  }
  m_audio->time_base = AVRational{1, m_audioRate};
  return true;
}

bool Recorder::Start(const std::uint8_t* keyFrame, int keySize) {
  AVFormatContext* output = nullptr;
  if (avformat_alloc_output_context2(&output, m_format, nullptr, m_path.c_str()) < 0) return false;
  m_output.reset(output);
  if (m_videoCode != 0) {
    int width = 0, height = 0, pixFormat = 0;
    if (!ProbeVideo(m_videoCode, keyFrame, keySize, &width, &height, &pixFormat)) return false;
    m_video = avformat_new_stream(output, nullptr);
    if (m_video == nullptr) return false;
    AVCodecParameters* par = m_video->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = VideoCodecId(m_videoCode);
    par->width = width;
    par->height = height;
    par->format = pixFormat;
    const auto sets = ParameterSets(m_videoCode, keyFrame, keySize);
    if (!sets.empty()) {
      par->extradata = static_cast<std::uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      std::memcpy(par->extradata, sets.data(), sets.size());
      par->extradata_size = static_cast<int>(sets.size());
    }
    m_video->time_base = AVRational{1, m_frameRate};
    m_video->avg_frame_rate = AVRational{m_frameRate, 1};
    m_video->r_frame_rate = AVRational{m_frameRate, 1};
  }
  if (m_audioCode != 0 && !AddAudioStream()) {
    // The audio cannot be carried: keep the video.
    if (m_video == nullptr) return false;
    m_audio = nullptr;
    m_audioCode = 0;
    m_transcode = false;
    // A half-made stream cannot be removed from the context; start over without it.
    m_output.reset();
    m_video = nullptr;
    return Start(keyFrame, keySize);
  }
  output->pb = m_io->Begin();
  if (output->pb == nullptr) return false;
  output->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_FLUSH_PACKETS;
  output->flush_packets = 1;
  output->io_open = &RefuseOpen;
  AVDictionary* options = nullptr;
  if (Fragmented(m_format)) {
    // A fragment per key frame, and at least one every two seconds (audio-only, long GOPs).
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "2000000", 0);
  }
  const int header = avformat_write_header(output, &options);
  av_dict_free(&options);
  if (header < 0) return false;
  m_started = true;
  return true;
}

namespace {
// How long (in video frames) a stream without a known audio codec waits for its first audio.
constexpr size_t kAudioWaitFrames = 50;
}  // namespace

int Recorder::StartWithPendingVideo() {
  auto pending = std::move(m_pendingVideo);
  m_pendingVideo.clear();
  if (!Start(pending.front().data(), static_cast<int>(pending.front().size()))) {
    m_output.reset();
    return Fail();
  }
  // Audio from before the key frame only told the format; the file starts with the picture.
  m_earlyAudio.clear();
  // Audio comes in from now on, that is after the video held back.
  m_audioSamples = static_cast<std::int64_t>(pending.size() - 1) * m_audioRate / m_frameRate;
  for (const auto& unit : pending) {
    const int result = WriteVideo(m_videoCode, unit.data(), static_cast<int>(unit.size()));
    if (result != VX_OK) return result;
  }
  return VX_OK;
}

int Recorder::WriteVideo(int codecCode, const std::uint8_t* data, int size) {
  if (m_failed) return VX_ERR_FILE;
  if (data == nullptr || size <= 0) return VX_ERR_PARAM;
  if (m_videoCode == 0 || codecCode != m_videoCode) return VX_ERR_CODEC;
  if (!m_started) {
    if (m_pendingVideo.empty() && !IsKeyFrame(m_videoCode, data, size)) return VX_OK;  // wait for a key frame
    m_pendingVideo.emplace_back(data, data + size);
    if (m_audioCode != 0 || m_pendingVideo.size() >= kAudioWaitFrames) return StartWithPendingVideo();
    return VX_OK;
  }
  m_packet->data = const_cast<std::uint8_t*>(data);
  m_packet->size = size;
  m_packet->stream_index = m_video->index;
  m_packet->pts = m_packet->dts = m_videoFrames;
  m_packet->duration = 1;
  m_packet->flags = IsKeyFrame(m_videoCode, data, size) ? AV_PKT_FLAG_KEY : 0;
  av_packet_rescale_ts(m_packet.get(), AVRational{1, m_frameRate}, m_video->time_base);
  const int result = av_write_frame(m_output.get(), m_packet.get());
  m_packet->data = nullptr;
  m_packet->size = 0;
  av_packet_unref(m_packet.get());
  if (result < 0 || m_io->Failed()) return Fail();
  ++m_videoFrames;
  return VX_OK;
}

int Recorder::WriteAudioPacket(AVPacket* packet, int samples) {
  packet->stream_index = m_audio->index;
  packet->pts = packet->dts = m_audioSamples;
  packet->duration = samples;
  av_packet_rescale_ts(packet, AVRational{1, m_audioRate}, m_audio->time_base);
  m_audioSamples += samples;
  if (av_interleaved_write_frame(m_output.get(), packet) < 0 || m_io->Failed()) return Fail();
  return VX_OK;
}

int Recorder::WriteAudio(int codecCode, const std::uint8_t* data, int size) {
  if (m_failed) return VX_ERR_FILE;
  if (data == nullptr || size <= 0) return VX_ERR_PARAM;
  // A stream whose audio codec was not known at the start takes it from its first block.
  if (m_audioCode == 0 && !m_started && AudioCodecId(codecCode) != AV_CODEC_ID_NONE) m_audioCode = codecCode;
  if (m_audioCode == 0 || AudioCodecId(codecCode) != AudioCodecId(m_audioCode)) return VX_ERR_CODEC;
  if (!m_started) {
    if (m_videoCode != 0) {
      // A few blocks tell the audio format when the key frame opens the file.
      if (m_earlyAudio.size() >= 8) m_earlyAudio.erase(m_earlyAudio.begin());
      m_earlyAudio.emplace_back(data, data + size);
      if (m_pendingVideo.empty()) return VX_OK;
      const int started = StartWithPendingVideo();
      if (started != VX_OK) return started;
      m_earlyAudio.clear();
    } else {
      m_earlyAudio.emplace_back(data, data + size);
      if (!Start(nullptr, 0)) {
        m_output.reset();
        return Fail();
      }
      m_earlyAudio.clear();
    }
  }
  if (m_audio == nullptr) return VX_OK;  // the container took no audio
  if (m_transcode) {
    int result = VX_OK;
    m_decoder->Decode(codecCode, data, size, [&](const PcmBlock& pcm) {
      m_encoder->Encode(pcm.samples, pcm.count, [&](AVPacket* packet) {
        if (WriteAudioPacket(packet, m_encoder->Context()->frame_size) < 0) result = VX_ERR_FILE;
      });
    });
    return result;
  }
  int offset = 0;
  int samples = size;
  const AVCodecID id = AudioCodecId(m_audioCode);
  if (id == AV_CODEC_ID_AAC) {
    std::uint8_t config[2];
    int rate = 0, channels = 0;
    if (!ParseAdts(data, size, &offset, config, &rate, &channels)) return VX_ERR_PARAM;
    samples = 1024;
  } else if (id == AV_CODEC_ID_MP2) {
    samples = 1152;
  }
  m_packet->data = const_cast<std::uint8_t*>(data + offset);
  m_packet->size = size - offset;
  const int result = WriteAudioPacket(m_packet.get(), samples);
  m_packet->data = nullptr;
  m_packet->size = 0;
  av_packet_unref(m_packet.get());
  return result;
}

int Recorder::Close() {
  if (!m_io) return m_failed ? VX_ERR_FILE : VX_OK;
  int result = m_failed ? VX_ERR_FILE : VX_OK;
  if (m_started && !m_failed) {
    if (m_transcode && m_encoder) {
      // Flush what the encoder holds.
      avcodec_send_frame(const_cast<AVCodecContext*>(m_encoder->Context()), nullptr);
      while (avcodec_receive_packet(const_cast<AVCodecContext*>(m_encoder->Context()), m_packet.get()) == 0) {
        WriteAudioPacket(m_packet.get(), m_encoder->Context()->frame_size);
        av_packet_unref(m_packet.get());
      }
    }
    if (av_write_trailer(m_output.get()) < 0) result = VX_ERR_FILE;
  }
  m_output.reset();
  if (m_started) {
    m_io->Finish();
    if (m_io->Failed()) result = VX_ERR_FILE;
  } else {
    m_io->Discard();  // never saw a key frame: no empty file
  }
  m_io.reset();
  return result;
}

}  // namespace vxav
