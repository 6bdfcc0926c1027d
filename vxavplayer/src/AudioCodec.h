#pragma once
// Audio decoding to 16-bit interleaved PCM and encoding from it. Each object is used by one
// thread at a time (a stream's decode thread, a recorder's writer, a capture thread).
#include <cstdint>
#include <functional>
#include <vector>

#include "vxavplayer/src/AvPtr.h"

namespace vxav {

struct PcmBlock {
  const std::int16_t* samples = nullptr;  // interleaved
  int count = 0;                          // samples per channel
  int sampleRate = 0;
  int channels = 0;
};

class AudioDecoder {
 public:
  using PcmSink = std::function<void(const PcmBlock& block)>;
  // Decodes one block of `codecCode`; false when the codec is unknown or cannot be opened.
  bool Decode(int codecCode, const std::uint8_t* data, int size, const PcmSink& sink);

 private:
  bool Open(int codecCode, const std::uint8_t* data, int size);

  int m_code = 0;
  CodecContextPtr m_context;
  SwrPtr m_swr;
  int m_swrRate = 0, m_swrChannels = 0, m_swrFormat = -1;
  FramePtr m_frame = MakeFrame();
  PacketPtr m_packet = MakePacket();
  std::vector<std::int16_t> m_pcm;
};

class AudioEncoder {
 public:
  using PacketSink = std::function<void(AVPacket* packet)>;
  // G.711 A/u-law, AAC (raw frames; AdtsWrap adds headers), MP2 by FFmpeg id. Input comes at
  // `sampleRate`; an encoder that cannot take that rate gets the nearest higher one it can.
  bool Open(AVCodecID id, int sampleRate, int channels);
  // Interleaved input at the opened rate and channel count; whole frames go out as they fill.
  void Encode(const std::int16_t* samples, int count, const PacketSink& sink);
  const AVCodecContext* Context() const { return m_context.get(); }

 private:
  void SendFrame(const PacketSink& sink);

  CodecContextPtr m_context;
  SwrPtr m_resample;  // only when the encoder runs at another rate
  FramePtr m_frame = MakeFrame();
  PacketPtr m_packet = MakePacket();
  std::vector<std::int16_t> m_fifo;  // at the encoder's rate
  std::vector<std::int16_t> m_converted;
  std::int64_t m_pts = 0;
  int m_frameSize = 0;
};

// True when `data` holds whole MPEG audio layer II frames (MP2), judged by frame headers.
bool LooksLikeMp2(const std::uint8_t* data, int size);
// ADTS framing of one raw AAC frame (LC profile).
std::vector<std::uint8_t> AdtsWrap(const std::uint8_t* data, int size, int sampleRate, int channels);
// Parses an ADTS header: payload offset and the 2-byte AudioSpecificConfig; false when not ADTS.
bool ParseAdts(const std::uint8_t* data, int size, int* headerSize, std::uint8_t config[2], int* sampleRate,
               int* channels);

}  // namespace vxav
