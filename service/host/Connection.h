#pragma once
// The host's side of one accepted connection. Only the server thread reads, writes and changes
// its stage; other threads only push onto `outgoing` and raise `broken`. The socket and TLS
// handle are released with the last reference, so a pusher never reaches a descriptor that a
// newer connection reuses.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/net/Socket.h"
#include "service/host/FrameReader.h"
#include "service/host/OutgoingQueue.h"

typedef struct ssl_st SSL;

// The handshake and first request, and each frame once begun, must be complete within this.
constexpr std::uint64_t kUnfinishedInputMs = 10000;
// Queued bytes that could not move for this long close the connection.
constexpr std::uint64_t kStalledWriteMs = 5000;

struct Connection {
  enum class Stage {
    kHandshake,  // TLS handshake under way
    kRequest,    // reading the first request
    kFrames,     // upgraded: a page session
    kAnswered,   // an HTTP answer is being written; nothing more is read
    kDraining,   // answer written and the stream ended; what the peer still sends is discarded
  };

  Connection(platform::net::SocketHandle socket, std::uint64_t serial, SSL* ssl);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const platform::net::SocketHandle socket;
  const std::uint64_t serial;
  SSL* const ssl;  // null on plain connections

  std::atomic<Stage> stage;  // written by the server thread, read by pushers
  OutgoingQueue outgoing;
  std::atomic<bool> closed{false};  // released by the server: pushes are dropped
  std::atomic<bool> broken{false};  // to be closed by the server on its next pass

  // Server thread only.
  std::uint64_t deadlineMs = 0;         // handshake and first request, or the end of draining
  std::uint64_t partialFrameSinceMs = 0;  // when the unfinished frame in `frames` began; 0: none
  std::string request;                  // bytes of the first request so far
  FrameReader frames;
  std::size_t accountedInput = 0;  // what this connection adds to the total of buffered input
  bool readWantsWrite = false;     // the TLS handshake or a read waits for writability
  bool writeWantsRead = false;     // a TLS write waits for readability
  bool writeBlocked = false;       // the last write found the socket full
  bool readAgain = false;          // a read stopped at its per-pass cap

  // Memory held by unfinished input.
  std::size_t InputHeld() const { return request.capacity() + frames.Held(); }
  // The earliest time something must happen on its own (a deadline), or UINT64_MAX.
  std::uint64_t NextDeadlineMs();
};

enum class ReadStatus { kData, kWouldBlock, kClosed };
// One read, plain or TLS. Server thread.
ReadStatus ReadSome(Connection& connection, std::uint8_t* buffer, std::size_t size, std::size_t& got);

// One step of the TLS handshake: 1 done, 0 to be continued, -1 failed. Server thread.
int ContinueTlsHandshake(Connection& connection);

enum class FlushStatus { kEmpty, kBlocked, kFailed };
// Writes queued bytes until the queue is empty or the socket is full. Server thread.
FlushStatus FlushOutgoing(Connection& connection, std::uint64_t nowMs);

// Ends the stream after the last answer byte: TLS close, then TCP end of stream. Server thread.
void EndStream(Connection& connection);
// Reads and drops up to `limit` bytes of what the peer still sends; false once it has closed.
// Server thread.
bool DiscardInput(Connection& connection, std::size_t limit);
