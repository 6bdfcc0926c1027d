#pragma once
// Captures sound (microphone through PulseAudio, or a synthetic tone when NIMBREL_CAPTURE=tone)
// and delivers it encoded, block by block, through the data callback on its own thread. Entry
// points run on any thread; m_mutex guards the callback and the running state.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "VXAVPlayer.h"

namespace vxav {

class CaptureSound {
 public:
  // Null-safe factory check: false for codes, rates or sample sizes it cannot capture.
  static bool Supports(int codec, int sampleRate, int bitsPerSample, int channels);
  CaptureSound(int codec, int sampleRate, int channels);
  ~CaptureSound();
  void SetCallBack(VX_AVDataCallBack callback, void* user);
  int Start();
  int Stop();

 private:
  void Run();

  const int m_codec;
  const int m_rate;
  const int m_channels;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  VX_AVDataCallBack m_callBack = nullptr;
  void* m_user = nullptr;
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace vxav
