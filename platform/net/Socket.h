#pragma once
// Thin, status-returning stand-ins for the socket calls the service makes. Any thread; a socket
// is used by one thread at a time unless the caller serialises.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::net {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

enum class Family { kIPv4, kIPv6 };

// Once per process before any socket call (it also reserves the descriptor DropPending uses);
// harmless to repeat.
bool NetStartup();
void NetCleanup();

SocketHandle CreateTcpSocket(Family family);
// A socket for a loopback listener that may rebind a port whose old connections linger (TIME_WAIT
// after a restart); a port that a live listener holds still refuses the bind.
SocketHandle CreateListenerSocket(Family family);
void CloseSocket(SocketHandle s);
// Sends the end of the stream (FIN) while reading goes on.
bool ShutdownWrite(SocketHandle s);
// Ends both directions: reads and writes blocked on the socket in other threads return at once.
bool ShutdownBoth(SocketHandle s);

// Binds to 127.0.0.1 or ::1 (IPv6-only) at `port` (0 lets the system choose).
bool BindLoopback(SocketHandle s, Family family, int port);
// The port a bound socket holds, or -1.
int LocalPort(SocketHandle s);
bool Listen(SocketHandle s, int backlog);
// kInvalidSocket when nothing is pending or on error.
SocketHandle Accept(SocketHandle listener);
enum class AcceptStatus { kAccepted, kNonePending, kNoDescriptors, kFailed };
struct AcceptResult {
  AcceptStatus status;
  SocketHandle socket;  // valid with kAccepted
};
AcceptResult AcceptPending(SocketHandle listener);
// Out of descriptors: takes one pending connection off `listener` and closes it at once, through
// a descriptor NetStartup keeps in reserve. false when there was nothing to take or no reserve.
bool DropPending(SocketHandle listener);

bool SetNonBlocking(SocketHandle s, bool on);
bool SetNoDelay(SocketHandle s, bool on);
// Bounds every blocking read (0 = no bound).
bool SetReceiveTimeout(SocketHandle s, int milliseconds);
bool SetSendTimeout(SocketHandle s, int milliseconds);
// Lets a listener rebind a port whose old connections linger (the default on Windows).
bool SetReuseAddress(SocketHandle s, bool on);

enum class IoStatus { kOk, kWouldBlock, kClosed, kError };
struct IoResult {
  IoStatus status;
  size_t bytes;  // valid with kOk
};
IoResult Recv(SocketHandle s, void* buffer, size_t size);
IoResult Send(SocketHandle s, const void* data, size_t size);
// Sends everything, waiting for writability on non-blocking sockets up to `timeoutMs` in all.
bool SendAll(SocketHandle s, const void* data, size_t size, int timeoutMs);

// Resolves host and port (any family, stream sockets). On failure `error` gets the system text.
struct ResolvedAddress {
  Family family;
  std::vector<uint8_t> sockaddrBytes;
};
std::vector<ResolvedAddress> Resolve(const std::string& host, int port, std::string* error);
// Blocking connect to one resolved address; kInvalidSocket on failure.
SocketHandle ConnectTo(const ResolvedAddress& address, int timeoutMs);

int LastErrorCode();

// Readiness wait over many sockets; no limit on their number.
struct PollEntry {
  SocketHandle socket = kInvalidSocket;
  bool wantRead = true;
  bool wantWrite = false;
  bool readable = false;  // also set on hang-up and error, so the next read reports it
  bool writable = false;
};
// Returns the number of ready entries, 0 on time-out, -1 on failure. timeoutMs < 0 waits forever.
int Poll(std::vector<PollEntry>& entries, int timeoutMs);

// Wakes a thread blocked in Poll: add Handle() to the poll set with wantRead.
class PollWaker {
 public:
  PollWaker();
  ~PollWaker();
  PollWaker(const PollWaker&) = delete;
  PollWaker& operator=(const PollWaker&) = delete;
  SocketHandle Handle() const { return m_read; }
  void Wake();
  void Drain();

 private:
  SocketHandle m_read = kInvalidSocket;
  SocketHandle m_write = kInvalidSocket;
};

}  // namespace platform::net
