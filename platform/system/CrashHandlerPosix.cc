#include "platform/system/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/system/Folders.h"

namespace platform::system {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
char g_fallbackFolder[4096];  // filled at install: the handler must not allocate
char g_fixedName[256];        // empty: the name carries the time

void WriteText(int fd, const char* text) {
  ssize_t ignored = ::write(fd, text, std::strlen(text));
  (void)ignored;
}

void FormatDumpName(char (&name)[64], int year, int month, int day, int hour, int minute, int second) {
  std::snprintf(name, sizeof name, "tmp%d_%02d_%02d__%02d_%02d_%02d.dmp", year, month, day, hour, minute, second);
}

int OpenDumpFile() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char name[sizeof g_fixedName];
  if (g_fixedName[0]) {
    std::memcpy(name, g_fixedName, sizeof name);
  } else {
    char timed[64];
    FormatDumpName(timed, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                   local.tm_sec);
    std::memcpy(name, timed, sizeof timed);
  }
  int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0 || !g_fallbackFolder[0]) return fd;
  char path[sizeof g_fallbackFolder + sizeof name + 1];
  std::snprintf(path, sizeof path, "%s/%s", g_fallbackFolder, name);
  return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void OnFatalSignal(int signal, siginfo_t* info, void*) {
  int fd = OpenDumpFile();
  if (fd >= 0) {
    char line[160];
    std::snprintf(line, sizeof line, "signal %d (%s)\naddress %p\nbacktrace:\n", signal, ::strsignal(signal),
                  info ? info->si_addr : nullptr);
    WriteText(fd, line);
    void* frames[64];
    int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
  }
  // Default action: the process ends (and dumps core) as it would have without us.
  struct sigaction dfl{};
  dfl.sa_handler = SIG_DFL;
  ::sigemptyset(&dfl.sa_mask);
  ::sigaction(signal, &dfl, nullptr);
  ::raise(signal);
}

}  // namespace

std::string CrashDumpName(int year, int month, int day, int hour, int minute, int second) {
  char name[64];
  FormatDumpName(name, year, month, day, hour, minute, second);
  return name;
}

void InstallCrashHandler(const std::string& fixedName) {
  std::snprintf(g_fixedName, sizeof g_fixedName, "%s", fixedName.c_str());
  std::string folder = LocalAppDataFolder();
  std::snprintf(g_fallbackFolder, sizeof g_fallbackFolder, "%s", folder.c_str());
  // backtrace() loads its unwinder lazily; do it now, not inside the handler.
  void* warm[1];
  ::backtrace(warm, 1);
  // A stack overflow needs a stack of its own to report on.
  static char altStack[64 * 1024];
  stack_t ss{};
  ss.ss_sp = altStack;
  ss.ss_size = sizeof altStack;
  ::sigaltstack(&ss, nullptr);
  struct sigaction sa{};
  sa.sa_sigaction = OnFatalSignal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  ::sigemptyset(&sa.sa_mask);
  for (int signal : kSignals) ::sigaction(signal, &sa, nullptr);
}

void IgnoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform::system
