#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/system/Process.h"
#include "platform/system/SessionLock.h"

namespace platform::system {

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";

struct Pipe {
  int read = -1;
  int write = -1;
  // Close-on-exec, so no other child started meanwhile holds an end open.
  bool Open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read = fds[0];
    write = fds[1];
    return true;
  }
  void CloseWrite() {
    if (write >= 0) ::close(write);
    write = -1;
  }
  ~Pipe() {
    CloseWrite();
    if (read >= 0) ::close(read);
  }
};

StartOptions ToolOptions(const SessionLockOptions& options, std::vector<std::string> arguments, int out) {
  StartOptions start;
  start.arguments = std::move(arguments);
  start.searchPath = true;
  start.outputDescriptor = out;
  if (!options.systemBusAddress.empty())
    start.extraEnvironment.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + options.systemBusAddress);
  return start;
}

void EndChild(ProcessId pid) {
  KillProcess(pid);
  // SIGKILL cannot be refused; the wait only collects the status.
  WaitForExit(pid, 5000);
}

// Runs the tool to its end and returns what it printed, or empty when it could not start,
// failed, or outlived the timeout.
std::optional<std::string> RunTool(const SessionLockOptions& options, std::vector<std::string> arguments) {
  Pipe pipe;
  if (!pipe.Open()) return std::nullopt;
  auto pid = StartProcess(options.tool, ToolOptions(options, std::move(arguments), pipe.write));
  pipe.CloseWrite();
  if (!pid) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.probeTimeoutMs);
  std::string output;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      EndChild(*pid);
      return std::nullopt;
    }
    struct pollfd p {pipe.read, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;  // the deadline check ends the wait
    char buf[1024];
    ssize_t n = ::read(pipe.read, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output.append(buf, static_cast<size_t>(n));
  }
  auto code = WaitForExit(*pid, options.probeTimeoutMs);
  if (!code) {
    EndChild(*pid);
    return std::nullopt;
  }
  if (*code != 0) return std::nullopt;
  return output;
}

// The session's object path once logind has confirmed it, else empty.
std::optional<std::string> FindSession(const SessionLockOptions& options) {
  if (!options.sessionId.empty()) {
    std::string path = SessionObjectPath(options.sessionId);
    if (!RunTool(options, {"call", "--system", "--dest", kLogind, "--object-path", path, "--method",
                           "org.freedesktop.DBus.Properties.Get", "org.freedesktop.login1.Session", "Id"}))
      return std::nullopt;
    return path;
  }
  auto reply = RunTool(options, {"call", "--system", "--dest", kLogind, "--object-path", "/org/freedesktop/login1",
                                 "--method", "org.freedesktop.login1.Manager.GetSessionByPID",
                                 std::to_string(CurrentProcessId())});
  if (!reply) return std::nullopt;
  return ParseObjectPathReply(*reply);
}

}  // namespace

SessionLockOptions DefaultSessionLockOptions() {
  SessionLockOptions options;
  if (const char* id = std::getenv("XDG_SESSION_ID")) options.sessionId = id;
  return options;
}

struct SessionLockWatcher::Impl {
  SessionLockOptions options;
  mutable std::mutex mutex;
  // Guarded by mutex.
  ProcessId child = 0;
  std::thread reader;
  int output = -1;     // the monitor's standard output
  int wakeRead = -1;   // written to by Stop, so the reader never waits on a child that lingers
  int wakeWrite = -1;
  std::atomic<bool> ended{false};

  void Read(const std::string& path, const Callback& callback) {
    std::string pending;
    char buf[4096];
    for (;;) {
      struct pollfd p[2] = {{output, POLLIN, 0}, {wakeRead, POLLIN, 0}};
      int ready = ::poll(p, 2, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || (p[1].revents & (POLLIN | POLLHUP))) break;
      ssize_t n = ::read(output, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(buf, static_cast<size_t>(n));
      size_t start = 0;
      for (size_t eol; (eol = pending.find('\n', start)) != std::string::npos; start = eol + 1) {
        auto locked = ParseSessionLockLine(std::string_view(pending).substr(start, eol - start), path);
        if (locked) callback(*locked);
      }
      pending.erase(0, start);
    }
    ended = true;
  }
};

SessionLockWatcher::SessionLockWatcher(SessionLockOptions options) : m_impl(std::make_unique<Impl>()) {
  m_impl->options = std::move(options);
}

SessionLockWatcher::~SessionLockWatcher() { Stop(); }

bool SessionLockWatcher::Start(Callback callback) {
  if (Running()) return true;
  Stop();  // a monitor that ended by itself leaves its thread to join
  auto path = FindSession(m_impl->options);
  if (!path) return false;
  Pipe out, wake;
  if (!out.Open() || !wake.Open()) return false;
  auto pid = StartProcess(m_impl->options.tool,
                          ToolOptions(m_impl->options,
                                      {"monitor", "--system", "--dest", kLogind, "--object-path", *path},
                                      out.write));
  out.CloseWrite();
  if (!pid) return false;
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->child = *pid;
  m_impl->ended = false;
  std::swap(m_impl->output, out.read);
  std::swap(m_impl->wakeRead, wake.read);
  std::swap(m_impl->wakeWrite, wake.write);
  m_impl->reader = std::thread([impl = m_impl.get(), path = *path, callback = std::move(callback)] {
    impl->Read(path, callback);
  });
  return true;
}

void SessionLockWatcher::Stop() {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  if (m_impl->child) EndChild(m_impl->child);
  m_impl->child = 0;
  if (m_impl->wakeWrite >= 0) {
    char c = 1;
    while (::write(m_impl->wakeWrite, &c, 1) < 0 && errno == EINTR) {
    }
  }
  if (m_impl->reader.joinable()) m_impl->reader.join();
  for (int* fd : {&m_impl->output, &m_impl->wakeRead, &m_impl->wakeWrite}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

bool SessionLockWatcher::Running() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->child != 0 && !m_impl->ended;
}

int SessionLockWatcher::ChildId() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->child;
}

}  // namespace platform::system
