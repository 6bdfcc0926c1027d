#pragma once
// The microphone side of a talk channel: the AV library's capture and the periodic no-audio
// check. Owned by its channel. Open and Stop run on the command thread, Start on the channel's
// client thread; the block sink runs on the library's capture thread, the silence sink on the
// timer thread. Stop (and destruction) returns only when neither sink can run any more.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/timer/PeriodicTimer.h"

class TalkCapture {
 public:
  static constexpr std::chrono::milliseconds kCheckPeriod{2000};
  using BlockSink = std::function<void(const std::uint8_t* data, std::size_t length)>;
  using SilenceSink = std::function<void()>;

  TalkCapture() = default;
  ~TalkCapture();
  TalkCapture(const TalkCapture&) = delete;
  TalkCapture& operator=(const TalkCapture&) = delete;

  // Opens the microphone for `codec` at 8000 Hz, 16 bits, mono; 0, or the library's error.
  int Open(int codec);
  // Starts capturing and checking, once; the silence sink runs after every period in which no
  // block came. Later calls, and calls after Stop, do nothing.
  void Start(BlockSink onBlock, SilenceSink onSilence);
  void Stop();
  // The codec Open was given: what every block is encoded in.
  int Codec() const { return m_codec; }

 private:
  static void OnData(std::int32_t reserved, const std::uint8_t* data, std::int32_t length, std::int32_t reserved2,
                     void* user);
  void OnTick();

  std::mutex m_mutex;  // the handle, the timer and the state
  std::int32_t m_handle = 0;
  int m_codec = 0;  // set by Open, before any block
  platform::timer::TimerId m_timer = 0;
  bool m_started = false;
  bool m_stopped = false;
  BlockSink m_onBlock;      // set by Start before the capture runs; read by the capture thread
  SilenceSink m_onSilence;  // likewise, for the timer thread
  std::atomic<int> m_count{0};  // blocks since the last check
};
