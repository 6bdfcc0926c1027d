#include "platform/net/Socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>

namespace platform::net {

namespace {
int Fd(SocketHandle s) { return static_cast<int>(s); }

// One descriptor held back so that a pending connection can still be taken off a listener (and
// closed) when the process has run out of descriptors.
std::mutex g_reserveMutex;
int g_reserve = -1;  // guarded by g_reserveMutex

int OpenReserve() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

bool WaitFor(SocketHandle s, bool write, int timeoutMs) {
  pollfd p{Fd(s), static_cast<short>(write ? POLLOUT : POLLIN), 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}
}  // namespace

bool NetStartup() {
  // A peer that vanishes must give an error from send, not end the process.
  ::signal(SIGPIPE, SIG_IGN);
  std::lock_guard<std::mutex> lock(g_reserveMutex);
  if (g_reserve < 0) g_reserve = OpenReserve();
  return true;
}

void NetCleanup() {}

SocketHandle CreateTcpSocket(Family family) {
  int fd = ::socket(family == Family::kIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kInvalidSocket : fd;
}

SocketHandle CreateListenerSocket(Family family) {
  SocketHandle s = CreateTcpSocket(family);
  // On Linux SO_REUSEADDR lets a bind pass TIME_WAIT connections (the accepted ones inherit the
  // option, so the previous run's listener must have set it too) but never a live listener.
  if (s != kInvalidSocket && !SetReuseAddress(s, true)) {
    CloseSocket(s);
    return kInvalidSocket;
  }
  return s;
}

void CloseSocket(SocketHandle s) {
  if (s >= 0) ::close(Fd(s));
}

bool ShutdownWrite(SocketHandle s) { return ::shutdown(Fd(s), SHUT_WR) == 0; }

bool ShutdownBoth(SocketHandle s) { return ::shutdown(Fd(s), SHUT_RDWR) == 0; }

bool BindLoopback(SocketHandle s, Family family, int port) {
  if (port < 0 || port > 65535) return false;
  if (family == Family::kIPv6) {
    int on = 1;
    ::setsockopt(Fd(s), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET6, "::1", &a.sin6_addr);
    return ::bind(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  return ::bind(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

int LocalPort(SocketHandle s) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
  return -1;
}

bool Listen(SocketHandle s, int backlog) { return ::listen(Fd(s), backlog) == 0; }

SocketHandle Accept(SocketHandle listener) { return AcceptPending(listener).socket; }

AcceptResult AcceptPending(SocketHandle listener) {
  int fd;
  do {
    fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) return {AcceptStatus::kAccepted, fd};
  switch (errno) {
    case EAGAIN:
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
#endif
    case ECONNABORTED:
    case EPROTO:
      return {AcceptStatus::kNonePending, kInvalidSocket};
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return {AcceptStatus::kNoDescriptors, kInvalidSocket};
    default:
      return {AcceptStatus::kFailed, kInvalidSocket};
  }
}

bool DropPending(SocketHandle listener) {
  std::lock_guard<std::mutex> lock(g_reserveMutex);
  if (g_reserve < 0) g_reserve = OpenReserve();
  if (g_reserve < 0) return false;
  ::close(g_reserve);
  int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) ::close(fd);
  // Another thread may take the freed number meanwhile; the reserve is then made again later.
  g_reserve = OpenReserve();
  return fd >= 0;
}

bool SetNonBlocking(SocketHandle s, bool on) {
  int flags = ::fcntl(Fd(s), F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(Fd(s), F_SETFL, flags) == 0;
}

bool SetNoDelay(SocketHandle s, bool on) {
  int v = on ? 1 : 0;
  return ::setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) == 0;
}

static bool SetTimeout(SocketHandle s, int option, int milliseconds) {
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = (milliseconds % 1000) * 1000;
  return ::setsockopt(Fd(s), SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

bool SetReceiveTimeout(SocketHandle s, int milliseconds) { return SetTimeout(s, SO_RCVTIMEO, milliseconds); }
bool SetSendTimeout(SocketHandle s, int milliseconds) { return SetTimeout(s, SO_SNDTIMEO, milliseconds); }

bool SetReuseAddress(SocketHandle s, bool on) {
  int v = on ? 1 : 0;
  return ::setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0;
}

IoResult Recv(SocketHandle s, void* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::recv(Fd(s), buffer, size, 0);
    if (n > 0) return {IoStatus::kOk, static_cast<size_t>(n)};
    if (n == 0) return {IoStatus::kClosed, 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::kWouldBlock, 0};
    return {IoStatus::kError, 0};
  }
}

IoResult Send(SocketHandle s, const void* data, size_t size) {
  for (;;) {
    ssize_t n = ::send(Fd(s), data, size, MSG_NOSIGNAL);
    if (n >= 0) return {IoStatus::kOk, static_cast<size_t>(n)};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::kWouldBlock, 0};
    return {IoStatus::kError, 0};
  }
}

bool SendAll(SocketHandle s, const void* data, size_t size, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    IoResult r = Send(s, p, size);
    if (r.status == IoStatus::kOk) {
      p += r.bytes;
      size -= r.bytes;
      continue;
    }
    if (r.status != IoStatus::kWouldBlock) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitFor(s, true, static_cast<int>(left.count()))) return false;
  }
  return true;
}

std::vector<ResolvedAddress> Resolve(const std::string& host, int port, std::string* error) {
  std::vector<ResolvedAddress> out;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
  if (rc != 0) {
    if (error) *error = ::gai_strerror(rc);
    return out;
  }
  for (addrinfo* p = result; p; p = p->ai_next) {
    if (p->ai_family != AF_INET && p->ai_family != AF_INET6) continue;
    ResolvedAddress a;
    a.family = p->ai_family == AF_INET6 ? Family::kIPv6 : Family::kIPv4;
    auto* bytes = reinterpret_cast<const uint8_t*>(p->ai_addr);
    a.sockaddrBytes.assign(bytes, bytes + p->ai_addrlen);
    out.push_back(std::move(a));
  }
  ::freeaddrinfo(result);
  return out;
}

SocketHandle ConnectTo(const ResolvedAddress& address, int timeoutMs) {
  SocketHandle s = CreateTcpSocket(address.family);
  if (s == kInvalidSocket) return s;
  SetNonBlocking(s, true);
  int rc = ::connect(Fd(s), reinterpret_cast<const sockaddr*>(address.sockaddrBytes.data()),
                     static_cast<socklen_t>(address.sockaddrBytes.size()));
  if (rc != 0 && errno == EINPROGRESS) {
    if (WaitFor(s, true, timeoutMs)) {
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &err, &len);
      rc = err == 0 ? 0 : -1;
    } else {
      rc = -1;
    }
  }
  if (rc != 0) {
    CloseSocket(s);
    return kInvalidSocket;
  }
  SetNonBlocking(s, false);
  return s;
}

int LastErrorCode() { return errno; }

int Poll(std::vector<PollEntry>& entries, int timeoutMs) {
  std::vector<pollfd> fds(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    fds[i].fd = Fd(entries[i].socket);
    fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) | (entries[i].wantWrite ? POLLOUT : 0));
    fds[i].revents = 0;
  }
  int r;
  do {
    r = ::poll(fds.data(), fds.size(), timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  for (size_t i = 0; i < entries.size(); ++i) {
    short ev = fds[i].revents;
    entries[i].readable = (ev & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    entries[i].writable = (ev & (POLLOUT | POLLERR | POLLHUP)) != 0;
  }
  return r;
}

PollWaker::PollWaker() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    m_read = fds[0];
    m_write = fds[1];
  }
}

PollWaker::~PollWaker() {
  if (m_read >= 0) ::close(Fd(m_read));
  if (m_write >= 0) ::close(Fd(m_write));
}

void PollWaker::Wake() {
  char c = 1;
  if (m_write >= 0) (void)!::write(Fd(m_write), &c, 1);
}

void PollWaker::Drain() {
  char buf[64];
  while (m_read >= 0 && ::read(Fd(m_read), buf, sizeof buf) > 0) {
  }
}

}  // namespace platform::net
