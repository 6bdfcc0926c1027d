#include "vxavplayer/src/SoundOutput.h"

#include <chrono>

#include "vxavplayer/src/PulseLink.h"

namespace vxav {

SoundOutput::SoundOutput() : m_thread([this] { Run(); }) {}

SoundOutput::~SoundOutput() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_thread.join();
}

void SoundOutput::Write(const PcmBlock& block) {
  if (block.count <= 0 || block.channels <= 0 || block.sampleRate <= 0) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queuedSamples > block.sampleRate) return;  // more than a second behind: drop
    m_blocks.push_back(Block{std::vector<std::int16_t>(block.samples, block.samples + block.count * block.channels),
                             block.sampleRate, block.channels});
    m_queuedSamples += block.count;
  }
  m_wake.notify_one();
}

std::int64_t SoundOutput::Consumed() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_consumed;
}

bool SoundOutput::UsingPulse() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pulse;
}

void SoundOutput::Run() {
  using Clock = std::chrono::steady_clock;
  PulseLink pulse;
  bool pulseFailed = false;
  Clock::time_point nullClock{};
  std::unique_lock<std::mutex> lock(m_mutex);
  while (true) {
    m_wake.wait(lock, [this] { return m_stop || !m_blocks.empty(); });
    if (m_stop) return;
    Block block = std::move(m_blocks.front());
    m_blocks.pop_front();
    const int count = static_cast<int>(block.samples.size()) / block.channels;
    lock.unlock();
    if (!pulseFailed && (!pulse.IsOpen() || pulse.Rate() != block.rate || pulse.Channels() != block.channels)) {
      pulseFailed = !pulse.Open(false, block.rate, block.channels);
    }
    if (pulse.IsOpen() && pulse.Write(block.samples.data(), static_cast<int>(block.samples.size()))) {
      lock.lock();
      m_pulse = true;
    } else {
      // Null sink: the block takes its own duration, measured from a clock that never runs ahead.
      const auto now = Clock::now();
      if (nullClock < now) nullClock = now;
      nullClock += std::chrono::microseconds(1000000LL * count / block.rate);
      lock.lock();
      m_wake.wait_until(lock, nullClock, [this] { return m_stop; });
    }
    m_queuedSamples -= count;
    m_consumed += count;
  }
}

}  // namespace vxav
