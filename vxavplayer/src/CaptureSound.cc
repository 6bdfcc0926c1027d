#include "vxavplayer/src/CaptureSound.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vxavplayer/src/AudioCodec.h"
#include "vxavplayer/src/CodecCodes.h"
#include "vxavplayer/src/PulseLink.h"

namespace vxav {

namespace {

bool ToneRequested() {
  const char* mode = std::getenv("NIMBREL_CAPTURE");
  return mode != nullptr && std::strcmp(mode, "tone") == 0;
}

}  // namespace

bool CaptureSound::Supports(int codec, int sampleRate, int bitsPerSample, int channels) {
  return AudioCodecId(codec) != AV_CODEC_ID_NONE && sampleRate >= 8000 && sampleRate <= 48000 &&
         bitsPerSample == 16 && (channels == 1 || channels == 2);
}

CaptureSound::CaptureSound(int codec, int sampleRate, int channels)
    : m_codec(codec), m_rate(sampleRate), m_channels(channels) {}

CaptureSound::~CaptureSound() { Stop(); }

void CaptureSound::SetCallBack(VX_AVDataCallBack callback, void* user) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_callBack = callback;
  m_user = user;
}

int CaptureSound::Start() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_thread.joinable()) return VX_OK;
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
  return VX_OK;
}

int CaptureSound::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread.joinable()) return VX_OK;
    m_stop = true;
  }
  m_wake.notify_all();
  m_thread.join();
  return VX_OK;
}

void CaptureSound::Run() {
  using Clock = std::chrono::steady_clock;
  AudioEncoder encoder;
  if (!encoder.Open(AudioCodecId(m_codec), m_rate, m_channels)) return;
  const bool aac = AudioCodecId(m_codec) == AV_CODEC_ID_AAC;
  const int encodedRate = encoder.Context()->sample_rate;
  PulseLink microphone;
  const bool tone = ToneRequested();
  // Without a microphone no blocks come, which the caller's no-audio check reports.
  if (!tone && !microphone.Open(true, m_rate, m_channels)) return;
  const int blockSamples = m_rate / 50;  // 20 ms
  std::vector<std::int16_t> block(static_cast<size_t>(blockSamples) * m_channels);
  std::int64_t produced = 0;
  const auto start = Clock::now();
  auto deliver = [&](AVPacket* packet) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_callBack == nullptr) return;
    if (aac) {
      // ADTS framing, so each block decodes on its own at the far end.
      auto framed = AdtsWrap(packet->data, packet->size, encodedRate, m_channels);
      m_callBack(0, framed.data(), static_cast<std::int32_t>(framed.size()), 0, m_user);
    } else {
      m_callBack(0, packet->data, packet->size, 0, m_user);
    }
  };
  while (true) {
    if (tone) {
      for (int i = 0; i < blockSamples; ++i) {
        const double t = static_cast<double>(produced + i) / m_rate;
        const auto v = static_cast<std::int16_t>(8000.0 * std::sin(2.0 * M_PI * 440.0 * t));
        for (int ch = 0; ch < m_channels; ++ch) block[static_cast<size_t>(i) * m_channels + ch] = v;
      }
      // A tone arrives at the pace a microphone would deliver it.
      const auto due = start + std::chrono::microseconds(1000000LL * (produced + blockSamples) / m_rate);
      std::unique_lock<std::mutex> lock(m_mutex);
      if (m_wake.wait_until(lock, due, [this] { return m_stop; })) return;
    } else {
      if (!microphone.Read(block.data(), static_cast<int>(block.size()))) return;
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_stop) return;
    }
    produced += blockSamples;
    encoder.Encode(block.data(), blockSamples, deliver);
  }
}

}  // namespace vxav
