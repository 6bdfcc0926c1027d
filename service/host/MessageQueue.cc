#include "service/host/MessageQueue.h"

bool MessageQueue::Push(InboundMessage message) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_notFull.wait(lock, [this] { return m_closed || m_messages.size() < kCapacity; });
  if (m_closed) return false;
  m_messages.push_back(std::move(message));
  m_notEmpty.notify_one();
  return true;
}

std::optional<InboundMessage> MessageQueue::Pop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_notEmpty.wait(lock, [this] { return m_closed || !m_messages.empty(); });
  if (m_messages.empty()) return std::nullopt;
  InboundMessage message = std::move(m_messages.front());
  m_messages.pop_front();
  m_notFull.notify_one();
  return message;
}

void MessageQueue::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_closed = true;
  m_messages.clear();
  m_notEmpty.notify_all();
  m_notFull.notify_all();
}

std::size_t MessageQueue::Size() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_messages.size();
}
