#pragma once
// The host's side of one accepted connection. Shared by the server thread (reads, stage changes)
// and writers on any thread; the socket and TLS handle are released with the last reference, so
// a writer never reaches a descriptor that a newer connection reuses.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/net/Socket.h"
#include "service/host/FrameReader.h"

typedef struct ssl_st SSL;

struct Connection {
  enum class Stage { kHandshake, kRequest, kFrames };

  Connection(platform::net::SocketHandle socket, std::uint64_t serial, SSL* ssl);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const platform::net::SocketHandle socket;
  const std::uint64_t serial;
  SSL* const ssl;  // null on plain connections

  // Server thread only.
  std::atomic<Stage> stage;  // written by the server thread, read by writers
  std::uint64_t deadlineMs = 0;  // the handshake and first request must be done by then
  std::string request;           // bytes of the first request so far
  FrameReader frames;
  bool wantWrite = false;        // the TLS layer waits for writability
  bool readAgain = false;        // a read stopped at its per-pass cap

  std::mutex writeMutex;              // one frame or answer at a time; taken before sslMutex
  std::mutex sslMutex;                // TLS reads and writes never overlap
  std::atomic<bool> closed{false};    // released by the server: writers drop what they hold
  std::atomic<bool> broken{false};    // a write failed: the server closes it on its next pass
};

enum class ReadStatus { kData, kWouldBlock, kClosed };
// One read, plain or TLS. Server thread.
ReadStatus ReadSome(Connection& connection, std::uint8_t* buffer, std::size_t size, std::size_t& got);

// Writes all of `data`, waiting for writability up to `timeoutMs` in all. false when the
// connection is closed, failed or stayed full; a failure marks it broken.
bool WriteAll(Connection& connection, const std::string& data, int timeoutMs);
