#pragma once
// Plays decoded audio of one stream. Write is called by the stream's decode thread; a thread of
// its own plays (PulseAudio when a server answers, else a null sink at real-time pace). The
// mutex guards the block queue.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "vxavplayer/src/AudioCodec.h"

namespace vxav {

class PulseLink;

class SoundOutput {
 public:
  SoundOutput();
  ~SoundOutput();
  // Never blocks; drops blocks beyond about a second of backlog.
  void Write(const PcmBlock& block);
  // Samples per channel consumed so far (tests and statistics).
  std::int64_t Consumed() const;
  bool UsingPulse() const;

 private:
  struct Block {
    std::vector<std::int16_t> samples;
    int rate;
    int channels;
  };
  void Run();

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Block> m_blocks;
  std::int64_t m_queuedSamples = 0;
  std::int64_t m_consumed = 0;
  bool m_stop = false;
  bool m_pulse = false;
  std::thread m_thread;
};

}  // namespace vxav
