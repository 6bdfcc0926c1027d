#include "service/host/Connection.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <vector>

using platform::net::IoStatus;

Connection::Connection(platform::net::SocketHandle s, std::uint64_t n, SSL* tls)
    : socket(s), serial(n), ssl(tls), stage(tls ? Stage::kHandshake : Stage::kRequest) {}

Connection::~Connection() {
  if (ssl) {
    if (stage == Stage::kFrames || stage == Stage::kRequest) SSL_shutdown(ssl);
    SSL_free(ssl);
  }
  platform::net::CloseSocket(socket);
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
  std::lock_guard<std::mutex> lock(c.sslMutex);
  int n = SSL_read(c.ssl, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
  if (n > 0) {
    got = static_cast<std::size_t>(n);
    return ReadStatus::kData;
  }
  int error = SSL_get_error(c.ssl, n);
  c.wantWrite = error == SSL_ERROR_WANT_WRITE;
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return ReadStatus::kWouldBlock;
  return ReadStatus::kClosed;
}

namespace {

// One attempt; returns bytes written, 0 when the socket is full, -1 on failure.
long WriteOnce(Connection& c, const char* data, std::size_t size) {
  if (!c.ssl) {
    platform::net::IoResult r = platform::net::Send(c.socket, data, size);
    if (r.status == IoStatus::kOk) return static_cast<long>(r.bytes);
    return r.status == IoStatus::kWouldBlock ? 0 : -1;
  }
  std::lock_guard<std::mutex> lock(c.sslMutex);
  int n = SSL_write(c.ssl, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
  if (n > 0) return n;
  int error = SSL_get_error(c.ssl, n);
  return error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ ? 0 : -1;
}

}  // namespace

bool WriteAll(Connection& c, const std::string& data, int timeoutMs) {
  std::lock_guard<std::mutex> lock(c.writeMutex);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t done = 0;
  while (done < data.size()) {
    if (c.closed || c.broken) return false;
    long n = WriteOnce(c, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (n < 0 || left.count() <= 0) {
      c.broken = true;
      return false;
    }
    // Short slices, so a close by the server is noticed while the peer does not read.
    std::vector<platform::net::PollEntry> entry(1);
    entry[0].socket = c.socket;
    entry[0].wantRead = false;
    entry[0].wantWrite = true;
    platform::net::Poll(entry, static_cast<int>(std::min<long long>(left.count(), 100)));
  }
  return true;
}
