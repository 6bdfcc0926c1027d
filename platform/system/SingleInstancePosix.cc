#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/system/SingleInstance.h"

namespace platform::system {

namespace {
// Per user, like a session's named objects: the runtime folder, else /tmp with the user's id.
std::string LockPath(const std::string& name) {
  std::string safe = name;
  for (char& c : safe)
    if (c == '/') c = '_';
  const char* runtime = ::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && ::access(runtime, W_OK) == 0)
    return std::string(runtime) + "/" + safe + ".lock";
  return "/tmp/nimbrel-" + std::to_string(::getuid()) + "-" + safe + ".lock";
}
}  // namespace

SingleInstanceResult AcquireSingleInstance(const std::string& name) {
  int fd = ::open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return SingleInstanceResult::kFailed;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? SingleInstanceResult::kAlreadyRunning : SingleInstanceResult::kFailed;
  }
  // Deliberately left open: the lock ends with the process.
  return SingleInstanceResult::kAcquired;
}

}  // namespace platform::system
