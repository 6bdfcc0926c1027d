#include "service/host/OutgoingQueue.h"

#include <algorithm>

OutgoingQueue::PushResult OutgoingQueue::Push(std::string bytes, std::uint64_t nowMs, bool unbounded) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_refusing) return PushResult::kRefused;
  if (!unbounded && bytes.size() > m_limit - std::min(m_bytes, m_limit)) {
    // The reader is too slow for what it is sent; holding more would only grow the process. What
    // is queued stays until the server closes the connection: it may be writing the front now.
    m_refusing = true;
    return PushResult::kOverflow;
  }
  if (bytes.empty()) return PushResult::kQueued;
  if (m_entries.empty()) m_stalledSinceMs = nowMs;
  m_bytes += bytes.size();
  m_entries.push_back(std::move(bytes));
  return PushResult::kQueued;
}

OutgoingQueue::Chunk OutgoingQueue::Front() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_entries.empty()) return {};
  const std::string& front = m_entries.front();
  return {front.data() + m_offset, front.size() - m_offset};
}

void OutgoingQueue::Consume(std::size_t n, std::uint64_t nowMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_entries.empty() || n == 0) return;
  std::size_t left = m_entries.front().size() - m_offset;
  if (n > left) n = left;
  m_offset += n;
  m_bytes -= n;
  if (m_offset == m_entries.front().size()) {
    m_entries.pop_front();
    m_offset = 0;
  }
  m_stalledSinceMs = m_entries.empty() ? 0 : nowMs;
}

bool OutgoingQueue::Empty() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_entries.empty();
}

std::size_t OutgoingQueue::Bytes() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bytes;
}

std::uint64_t OutgoingQueue::StalledSinceMs() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_stalledSinceMs;
}

void OutgoingQueue::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_refusing = true;
  m_entries.clear();
  m_offset = 0;
  m_bytes = 0;
  m_stalledSinceMs = 0;
}
