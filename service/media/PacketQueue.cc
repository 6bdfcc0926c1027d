#include "service/media/PacketQueue.h"

#include <mutex>

#include "common/DebugLog.h"

void PacketQueue::Push(std::unique_ptr<MediaPacket> packet) {
  std::unique_lock<ThreadLib::ThreadMutex> lock(m_mutex);
  if (m_packets.size() >= m_nMaxSize) {
    if (m_dropMode) {
      m_discarding = true;
      lock.unlock();
      DebugLog("InputDataToQueue que_count >= m_nMaxSize, throw packet!");
      return;
    }
    m_room.wait(lock, [this] { return m_stopped || m_packets.size() < m_nMaxSize; });
    if (m_stopped) return;
    m_packets.push_back(std::move(packet));
    lock.unlock();
    m_ready.notify_one();
    return;
  }
  // Audio never depends on the video that was dropped, so it neither waits nor ends the wait.
  if (m_discarding && packet->kind == 0) {
    if (packet->secondFrame != 0) return;
    m_discarding = false;
  }
  m_packets.push_back(std::move(packet));
  lock.unlock();
  m_ready.notify_one();
}

std::unique_ptr<MediaPacket> PacketQueue::Pop() {
  std::unique_ptr<MediaPacket> packet;
  {
    std::lock_guard<ThreadLib::ThreadMutex> lock(m_mutex);
    if (m_packets.empty()) return packet;
    packet = std::move(m_packets.front());
    m_packets.pop_front();
  }
  m_room.notify_all();
  return packet;
}

bool PacketQueue::WaitReady(std::chrono::milliseconds timeout) {
  std::unique_lock<ThreadLib::ThreadMutex> lock(m_mutex);
  m_ready.wait_for(lock, timeout, [this] { return m_stopped || m_woken || !m_packets.empty(); });
  m_woken = false;
  return !m_stopped && !m_packets.empty();
}

bool PacketQueue::Passable() {
  std::lock_guard<ThreadLib::ThreadMutex> lock(m_mutex);
  return m_packets.empty() && !m_discarding && !m_stopped;
}

void PacketQueue::Wake() {
  {
    std::lock_guard<ThreadLib::ThreadMutex> lock(m_mutex);
    m_woken = true;
  }
  m_ready.notify_all();
}

void PacketQueue::Clear() {
  std::deque<std::unique_ptr<MediaPacket>> old;
  {
    std::lock_guard<ThreadLib::ThreadMutex> lock(m_mutex);
    old.swap(m_packets);
  }
  m_room.notify_all();
}

void PacketQueue::SetDropMode(bool on) {
  std::lock_guard<ThreadLib::ThreadMutex> lock(m_mutex);
  m_dropMode = on;
}

void PacketQueue::Stop() {
  {
    std::lock_guard<ThreadLib::ThreadMutex> lock(m_mutex);
    m_stopped = true;
  }
  m_room.notify_all();
  m_ready.notify_all();
}

size_t PacketQueue::Count() {
  std::lock_guard<ThreadLib::ThreadMutex> lock(m_mutex);
  return m_packets.size();
}

bool PacketQueue::Discarding() {
  std::lock_guard<ThreadLib::ThreadMutex> lock(m_mutex);
  return m_discarding;
}
