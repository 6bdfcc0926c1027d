#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/system/Process.h"

extern char** environ;

namespace platform::system {

namespace {

std::mutex& ChildrenMutex() {
  static std::mutex m;
  return m;
}
// Started children not yet reaped; guarded by ChildrenMutex.
std::set<pid_t>& Children() {
  static std::set<pid_t> s;
  return s;
}

bool IsNumber(const char* s) {
  if (!*s) return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

// The state letter of /proc/<pid>/stat, or 0 when the entry has gone. The command name in
// parentheses may itself hold ')' or blanks, so the state follows the last ')'.
char ProcessState(const std::string& dir) {
  std::ifstream in(dir + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return 0;
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return 0;
  return stat[close + 2];
}

// The program's full path; empty when hidden (another user's process) or gone. A program
// replaced on disk while it runs still runs under its path.
std::string ExecutablePath(const std::string& dir) {
  char buf[4096];
  ssize_t n = ::readlink((dir + "/exe").c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  static const std::string kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() &&
      path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
    path.resize(path.size() - kDeleted.size());
  return path;
}

std::string ExecutableName(const std::string& dir) {
  std::string path = ExecutablePath(dir);
  if (!path.empty()) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }
  // Other users' processes hide their executable; the kernel's short name is what is left.
  std::ifstream in(dir + "/comm");
  std::string comm;
  std::getline(in, comm);
  return comm;
}

// The real user id from /proc/<pid>/status; empty when the entry has gone.
std::optional<uid_t> RealUserId(const std::string& dir) {
  std::ifstream in(dir + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 4, "Uid:") != 0) continue;
    char* end = nullptr;
    unsigned long uid = std::strtoul(line.c_str() + 4, &end, 10);
    if (end == line.c_str() + 4) return std::nullopt;
    return static_cast<uid_t>(uid);
  }
  return std::nullopt;
}

// Calls `visit(pid, "/proc/<pid>")` for every process that still runs (zombies excluded).
// False when the list cannot be read at all.
template <typename Visit>
bool ForEachRunningProcess(Visit visit) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  while (struct dirent* entry = ::readdir(proc)) {
    if (!IsNumber(entry->d_name)) continue;
    std::string dir = std::string("/proc/") + entry->d_name;
    char state = ProcessState(dir);
    if (state == 0 || state == 'Z' || state == 'X') continue;
    visit(std::atoi(entry->d_name), dir);
  }
  ::closedir(proc);
  return true;
}

int ExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::vector<char*> MergedEnvironment(const std::vector<std::string>& extra,
                                     std::vector<std::string>& storage) {
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    size_t nameLength = eq ? static_cast<size_t>(eq - *e) + 1 : std::strlen(*e);
    bool overridden = false;
    for (const auto& x : extra)
      if (x.compare(0, nameLength, *e, nameLength) == 0) overridden = true;
    if (!overridden) storage.emplace_back(*e);
  }
  storage.insert(storage.end(), extra.begin(), extra.end());
  std::vector<char*> env;
  for (auto& s : storage) env.push_back(s.data());
  env.push_back(nullptr);
  return env;
}

}  // namespace

std::optional<std::vector<ProcessEntry>> ListProcesses() {
  std::vector<ProcessEntry> list;
  bool read = ForEachRunningProcess([&](ProcessId pid, const std::string& dir) {
    std::string name = ExecutableName(dir);
    // Ended between the two reads.
    if (!name.empty()) list.push_back({pid, std::move(name)});
  });
  if (!read) return std::nullopt;
  return list;
}

std::optional<std::vector<ProcessId>> OwnProcessesOfProgram(const std::string& executablePath) {
  std::error_code ec;
  // The kernel shows the program with every link resolved.
  std::string wanted = std::filesystem::weakly_canonical(executablePath, ec).string();
  if (ec || wanted.empty()) return std::nullopt;
  const uid_t self = ::getuid();
  std::vector<ProcessId> pids;
  bool read = ForEachRunningProcess([&](ProcessId pid, const std::string& dir) {
    if (RealUserId(dir) == self && ExecutablePath(dir) == wanted) pids.push_back(pid);
  });
  if (!read) return std::nullopt;
  return pids;
}

std::optional<ProcessId> StartProcess(const std::string& program, const StartOptions& options) {
  if (program.empty()) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawnattr_init(&attr);

  // The child starts with default signal handling, whatever the caller changed.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  ::posix_spawnattr_setsigdefault(&attr, &all);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  if (!options.workingDirectory.empty())
    ::posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  if (options.outputDescriptor >= 0) {
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, options.outputDescriptor, 1);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  } else if (options.quiet) {
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else if (!options.outputFile.empty()) {
    ::posix_spawn_file_actions_addopen(&actions, 1, options.outputFile.c_str(),
                                       O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::vector<std::string> argStorage{program};
  argStorage.insert(argStorage.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (auto& a : argStorage) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStorage;
  std::vector<char*> envp = MergedEnvironment(options.extraEnvironment, envStorage);

  pid_t pid = 0;
  int rc;
  {
    // Held across the spawn so a concurrent reaper never sees the pid before it is recorded.
    std::lock_guard<std::mutex> lock(ChildrenMutex());
    rc = options.searchPath
             ? ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data())
             : ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    if (rc == 0) Children().insert(pid);
  }
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attr);
  if (rc != 0) return std::nullopt;
  return pid;
}

void ReapStartedProcesses() {
  std::lock_guard<std::mutex> lock(ChildrenMutex());
  for (auto it = Children().begin(); it != Children().end();) {
    int status = 0;
    pid_t r = ::waitpid(*it, &status, WNOHANG);
    if (r == *it || (r < 0 && errno == ECHILD))
      it = Children().erase(it);
    else
      ++it;
  }
}

void CollectWhenEnded(ProcessId pid) {
  {
    std::lock_guard<std::mutex> lock(ChildrenMutex());
    if (Children().erase(pid) == 0) return;
  }
  try {
    std::thread([pid] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the ordinary reaping takes it back.
    std::lock_guard<std::mutex> lock(ChildrenMutex());
    Children().insert(pid);
  }
}

std::optional<int> WaitForExit(ProcessId pid, int timeoutMs) {
  {
    std::lock_guard<std::mutex> lock(ChildrenMutex());
    if (Children().erase(pid) == 0) return std::nullopt;
  }
  auto giveBack = [pid] {
    std::lock_guard<std::mutex> lock(ChildrenMutex());
    Children().insert(pid);
  };
  int status = 0;
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    struct pollfd p {pidfd, POLLIN, 0};
    int ready;
    do {
      ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    ::close(pidfd);
    if (ready == 1 && ::waitpid(pid, &status, 0) == pid) return ExitCode(status);
    giveBack();
    return std::nullopt;
  }
  // Kernels without process descriptors: look again every few milliseconds.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return ExitCode(status);
    if (r < 0 || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  giveBack();
  return std::nullopt;
}

bool KillProcess(ProcessId pid) { return pid > 0 && ::kill(pid, SIGKILL) == 0; }

ProcessId CurrentProcessId() { return ::getpid(); }

}  // namespace platform::system
