#pragma once
// Bytes waiting to be written to one connection: frames and answers in the order they were
// pushed. Any thread pushes; only the server thread takes from the front, so a front chunk stays
// where it is until it is consumed (TLS retries a write with the same bytes). Its mutex is
// innermost.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class OutgoingQueue {
 public:
  static constexpr std::size_t kDefaultLimit = 8u << 20;

  explicit OutgoingQueue(std::size_t limit = kDefaultLimit) : m_limit(limit) {}
  OutgoingQueue(const OutgoingQueue&) = delete;
  OutgoingQueue& operator=(const OutgoingQueue&) = delete;

  enum class PushResult {
    kQueued,
    kOverflow,  // this push would pass the limit: it and every later push are refused
    kRefused,   // closed, or overflowed before
  };
  // Any thread. `unbounded` lets one answer that is already held whole pass the limit.
  PushResult Push(std::string bytes, std::uint64_t nowMs, bool unbounded = false);

  struct Chunk {
    const char* data = nullptr;
    std::size_t size = 0;  // 0 when the queue is empty
  };
  // Server thread: the unwritten bytes of the front entry.
  Chunk Front();
  // Server thread: `n` bytes of the front entry were written at `nowMs`.
  void Consume(std::size_t n, std::uint64_t nowMs);

  bool Empty();
  std::size_t Bytes();
  // When the front bytes last moved or, for a queue that was empty, arrived; 0 when empty.
  std::uint64_t StalledSinceMs();
  // Server thread: drops everything; later pushes are refused.
  void Close();

 private:
  const std::size_t m_limit;
  std::mutex m_mutex;
  std::deque<std::string> m_entries;  // guarded by m_mutex
  std::size_t m_offset = 0;           // written bytes of the front entry; guarded
  std::size_t m_bytes = 0;            // unwritten bytes in all; guarded
  std::uint64_t m_stalledSinceMs = 0;  // guarded
  bool m_refusing = false;             // guarded
};
