#include "service/host/Connection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <climits>

using platform::net::IoStatus;

namespace {

// OpenSSL's error queue belongs to the thread, which serves every connection: an entry left by
// one connection would make SSL_get_error report another's would-block as a failure. So it is
// emptied before every call and after every failure.
int TlsError(SSL* ssl, int result) {
  int error = SSL_get_error(ssl, result);
  ERR_clear_error();
  return error;
}

constexpr std::size_t kMaxTlsWrite = 1u << 30;

}  // namespace

Connection::Connection(platform::net::SocketHandle s, std::uint64_t n, SSL* tls)
    : socket(s), serial(n), ssl(tls), stage(tls ? Stage::kHandshake : Stage::kRequest) {}

Connection::~Connection() {
  if (ssl) {
    ERR_clear_error();
    // Draining connections said goodbye already; an answer cut short gets no TLS close.
    if (stage == Stage::kFrames || stage == Stage::kRequest) SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
  }
  platform::net::CloseSocket(socket);
}

std::uint64_t Connection::NextDeadlineMs() {
  std::uint64_t deadline = UINT64_MAX;
  Stage now = stage;
  if (now == Stage::kHandshake || now == Stage::kRequest || now == Stage::kDraining) deadline = deadlineMs;
  if (now == Stage::kFrames && partialFrameSinceMs != 0) {
    deadline = std::min(deadline, partialFrameSinceMs + kUnfinishedInputMs);
  }
  if (std::uint64_t since = outgoing.StalledSinceMs()) deadline = std::min(deadline, since + kStalledWriteMs);
  return deadline;
}

ReadStatus ReadSome(Connection& c, std::uint8_t* buffer, std::size_t size, std::size_t& got) {
  got = 0;
  if (!c.ssl) {
    platform::net::IoResult r = platform::net::Recv(c.socket, buffer, size);
    if (r.status == IoStatus::kOk) {
      got = r.bytes;
      return ReadStatus::kData;
    }
    return r.status == IoStatus::kWouldBlock ? ReadStatus::kWouldBlock : ReadStatus::kClosed;
  }
  ERR_clear_error();
  int n = SSL_read(c.ssl, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
  c.readWantsWrite = false;
  if (n > 0) {
    got = static_cast<std::size_t>(n);
    return ReadStatus::kData;
  }
  int error = TlsError(c.ssl, n);
  c.readWantsWrite = error == SSL_ERROR_WANT_WRITE;
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return ReadStatus::kWouldBlock;
  return ReadStatus::kClosed;
}

int ContinueTlsHandshake(Connection& c) {
  ERR_clear_error();
  int result = SSL_accept(c.ssl);
  c.readWantsWrite = false;
  if (result == 1) return 1;
  int error = TlsError(c.ssl, result);
  c.readWantsWrite = error == SSL_ERROR_WANT_WRITE;
  return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? 0 : -1;
}

namespace {

// One attempt; bytes written, 0 when the socket is full, -1 on failure.
long WriteOnce(Connection& c, const char* data, std::size_t size) {
  if (!c.ssl) {
    platform::net::IoResult r = platform::net::Send(c.socket, data, size);
    if (r.status == IoStatus::kOk) return static_cast<long>(r.bytes);
    return r.status == IoStatus::kWouldBlock ? 0 : -1;
  }
  ERR_clear_error();
  // A retry after a would-block passes the same front bytes again, as OpenSSL requires.
  int n = SSL_write(c.ssl, data, static_cast<int>(std::min(size, kMaxTlsWrite)));
  c.writeWantsRead = false;
  if (n > 0) return n;
  int error = TlsError(c.ssl, n);
  c.writeWantsRead = error == SSL_ERROR_WANT_READ;
  return error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ ? 0 : -1;
}

}  // namespace

FlushStatus FlushOutgoing(Connection& c, std::uint64_t nowMs) {
  for (;;) {
    OutgoingQueue::Chunk chunk = c.outgoing.Front();
    if (chunk.size == 0) {
      c.writeBlocked = false;
      return FlushStatus::kEmpty;
    }
    long n = WriteOnce(c, chunk.data, chunk.size);
    if (n < 0) return FlushStatus::kFailed;
    if (n == 0) {
      c.writeBlocked = true;
      return FlushStatus::kBlocked;
    }
    c.outgoing.Consume(static_cast<std::size_t>(n), nowMs);
  }
}

void EndStream(Connection& c) {
  if (c.ssl) {
    // Best effort: the close alert goes out when the socket has room, which it has after a flush.
    ERR_clear_error();
    SSL_shutdown(c.ssl);
    ERR_clear_error();
  }
  platform::net::ShutdownWrite(c.socket);
}

bool DiscardInput(Connection& c, std::size_t limit) {
  // Plain reads: after the TLS close alert nothing of the stream matters any more.
  char buffer[16 * 1024];
  for (std::size_t total = 0; total < limit;) {
    platform::net::IoResult r = platform::net::Recv(c.socket, buffer, sizeof buffer);
    if (r.status == IoStatus::kWouldBlock) return true;
    if (r.status != IoStatus::kOk) return false;
    total += r.bytes;
  }
  return true;
}
