#include "service/host/FrameReader.h"

#include "service/host/WsFrame.h"

namespace {
constexpr std::size_t kKeptCapacity = 4 * 1024;
}  // namespace

bool FrameReader::Feed(const std::uint8_t* data, std::size_t size, std::vector<std::string>& texts) {
  if (m_closeSeen) return true;
  m_buffer.insert(m_buffer.end(), data, data + size);
  std::string text;
  for (;;) {
    std::size_t left = m_buffer.size() - m_start;
    std::uint8_t* front = m_buffer.data() + m_start;
    std::uint64_t announced = AnnouncedFrameSize(front, left);
    if (announced > m_limit) return false;
    std::int64_t used = ParseFrame(front, text, left);
    if (used < 0) break;
    m_start += static_cast<std::size_t>(used);
    if (IsCloseFrame(front, left)) {
      m_closeSeen = true;
      m_start = m_buffer.size();
      break;
    }
    texts.push_back(text);
  }
  if (m_start == m_buffer.size()) {
    m_buffer.clear();
    if (m_buffer.capacity() > kKeptCapacity) m_buffer.shrink_to_fit();
    m_start = 0;
  } else if (m_start > 0) {
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
    m_start = 0;
  }
  return true;
}
