#pragma once
// Per-connection frame assembly: bytes of an incomplete frame wait for the next read. Server
// thread only.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t kMaxFrameBytes = 1 << 20;

class FrameReader {
 public:
  explicit FrameReader(std::size_t limit = kMaxFrameBytes) : m_limit(limit) {}

  // Appends bytes read from the connection and hands out the text of every frame now complete
  // (one entry per frame, empty for control frames and non-final fragments), in order. Returns
  // false when a frame announces more than the limit: the connection is to be closed. Reading
  // stops at a close frame (see CloseSeen); what follows it is ignored.
  bool Feed(const std::uint8_t* data, std::size_t size, std::vector<std::string>& texts);

  // The page closed its WebSocket: the connection is to be closed after the texts before it.
  // A browser that leaves a page (Firefox on reload) sends this and keeps the TCP connection
  // open waiting for the answer, so the session would outlive its page without it.
  bool CloseSeen() const { return m_closeSeen; }

  std::size_t Buffered() const { return m_buffer.size() - m_start; }
  // Memory the reader holds; a large buffer is given back once no frame is unfinished.
  std::size_t Held() const { return m_buffer.capacity(); }

 private:
  std::size_t m_limit;
  std::vector<std::uint8_t> m_buffer;
  std::size_t m_start = 0;  // first unparsed byte
  bool m_closeSeen = false;
};
