// xdg-open and zenity, started with posix_spawn so the service never forks its whole image.
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/system/Shell.h"

extern char** environ;

namespace platform::system {

namespace {
// The child gets /dev/null for input and errors, `outFd` (or /dev/null) as output, and none of
// the service's other descriptors, so an opener left running never holds a listener.
bool Spawn(const std::vector<std::string>& args, int outFd, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (outFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawnp(pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

bool NativeShellOpen(const std::string& path) {
  pid_t pid = 0;
  if (!Spawn({"xdg-open", path}, -1, &pid)) return false;
  // Reaped in the background so no zombie is left and the caller never waits.
  std::thread([pid] { WaitExit(pid); }).detach();
  return true;
}

std::optional<std::string> NativePickFolder() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  pid_t pid = 0;
  bool started = Spawn({"zenity", "--file-selection", "--directory"}, fds[1], &pid);
  close(fds[1]);
  std::string out;
  if (started) {
    char buffer[512];
    for (;;) {
      ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n > 0) {
        out.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
  }
  close(fds[0]);
  if (!started || WaitExit(pid) != 0) return std::nullopt;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace platform::system
