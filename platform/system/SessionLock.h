#pragma once
// Desktop session lock/unlock from logind, followed through the `gdbus` tool so the service
// links no D-Bus library.
//
// Threads: Start and Stop from any one thread at a time (the owner's); the callback runs on the
// watcher's own reading thread. The child's id and the reading thread are guarded by the
// watcher's mutex.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::system {

// logind's object path for a session id: letters and digits kept, every other byte (and a
// leading digit) written as "_" and two lowercase hex digits.
std::string SessionObjectPath(std::string_view sessionId);

// The path in a `gdbus call` reply such as "(objectpath '/org/freedesktop/login1/session/_32',)".
std::optional<std::string> ParseObjectPathReply(std::string_view reply);

// One line of `gdbus monitor` output: true for the session's Lock signal, false for its Unlock,
// empty for anything else (other sessions, other signals, partial lines).
std::optional<bool> ParseSessionLockLine(std::string_view line, std::string_view sessionPath);

struct SessionLockOptions {
  std::string tool = "gdbus";  // looked up in PATH
  // The session to follow; empty: the one logind reports for this process.
  std::string sessionId;
  std::string systemBusAddress;  // empty: the system's own bus
  int probeTimeoutMs = 3000;     // for the one-off calls that find the session
};

// Options for this process: the session from $XDG_SESSION_ID.
SessionLockOptions DefaultSessionLockOptions();

class SessionLockWatcher {
 public:
  using Callback = std::function<void(bool locked)>;
  explicit SessionLockWatcher(SessionLockOptions options = DefaultSessionLockOptions());
  ~SessionLockWatcher();  // stops
  SessionLockWatcher(const SessionLockWatcher&) = delete;
  SessionLockWatcher& operator=(const SessionLockWatcher&) = delete;

  // Finds the session and starts following it; false, with nothing started, when there is no
  // system bus, no logind, no such session or no tool. True at once when already running.
  bool Start(Callback callback);
  // Ends the child and the reading thread; no callback runs after it returns.
  void Stop();
  bool Running() const;
  // The monitoring child while running (0 otherwise).
  int ChildId() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace platform::system
