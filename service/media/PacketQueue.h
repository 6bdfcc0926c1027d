#pragma once
// The bounded FIFO between a channel's client thread (Push) and its feed thread (Pop). Any thread
// may Clear, Stop or change the mode; m_mutex guards every field below it.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>

#include "libthread/ThreadLib.h"
#include "service/media/MediaPacket.h"

class PacketQueue {
 public:
  static constexpr size_t kMaxSize = 500;

  // Live streams drop on overflow (drop mode, the default); playback and download wait for room,
  // which holds the source back. Never fails; a dropped packet is freed.
  void Push(std::unique_ptr<MediaPacket> packet);
  // The front packet, or none.
  std::unique_ptr<MediaPacket> Pop();
  // Waits up to `timeout` for a packet without taking it: true when one waits; false on time-out,
  // after Stop, or when Wake was called since the last wait (a Wake before the wait is not lost).
  bool WaitReady(std::chrono::milliseconds timeout);
  // True when a packet may skip the queue: nothing waits in it, it is not skipping video after an
  // overflow, and it has not stopped.
  bool Passable();
  // Ends the current or next WaitReady early, so the feed thread looks at its stop flag.
  void Wake();
  // Frees every queued packet.
  void Clear();
  void SetDropMode(bool on);
  // Releases a Push waiting for room (its packet is dropped), now and later.
  void Stop();
  size_t Count();
  bool Discarding();

 private:
  ThreadLib::ThreadMutex m_mutex;
  std::condition_variable_any m_room;  // signalled when a packet leaves or the queue stops
  std::condition_variable_any m_ready;  // signalled when a packet comes, on Wake and on Stop
  std::deque<std::unique_ptr<MediaPacket>> m_packets;
  const size_t m_nMaxSize = kMaxSize;
  bool m_dropMode = true;
  // After an overflow drop: later video packets are dropped until one that starts a picture
  // (second-frame flag clear); audio goes on being queued.
  bool m_discarding = false;
  bool m_stopped = false;
  bool m_woken = false;
};
