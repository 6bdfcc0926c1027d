#include "platform/system/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "platform/system/Folders.h"

// The handler runs in a process whose heap, locale or stdio locks may be held by the very code
// that faulted: it formats by hand into fixed buffers and calls only async-signal-safe
// functions (clock_gettime, open, write, close, sigaction, raise, pause; backtrace is primed at
// install so it no longer loads anything).

namespace platform::system {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Text built in a fixed buffer; what does not fit is cut.
class FixedText {
 public:
  void Append(const char* text) {
    while (*text && m_length + 1 < sizeof m_text) m_text[m_length++] = *text++;
    m_text[m_length] = 0;
  }
  // `value` in decimal, with leading zeros up to `width` digits.
  void AppendDecimal(std::uint64_t value, int width = 1) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value && n < static_cast<int>(sizeof digits));
    while (n < width && n < static_cast<int>(sizeof digits)) digits[n++] = '0';
    char reversed[sizeof digits + 1];
    for (int i = 0; i < n; ++i) reversed[i] = digits[n - 1 - i];
    reversed[n] = 0;
    Append(reversed);
  }
  void AppendSigned(std::int64_t value) {
    if (value < 0) Append("-");
    AppendDecimal(value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
  }
  void AppendHex(std::uintptr_t value) {
    char digits[2 * sizeof value + 3] = "0x";
    int n = 2;
    bool leading = true;
    for (int shift = 8 * sizeof value - 4; shift >= 0; shift -= 4) {
      unsigned nibble = (value >> shift) & 0xF;
      if (leading && nibble == 0 && shift) continue;
      leading = false;
      digits[n++] = "0123456789abcdef"[nibble];
    }
    digits[n] = 0;
    Append(digits);
  }
  const char* Get() const { return m_text; }
  std::size_t Length() const { return m_length; }

 private:
  char m_text[4352] = {};
  std::size_t m_length = 0;
};

// Filled at install; the handler only reads them.
FixedText g_fallbackFolder;  // with its trailing '/'; empty: no second place
FixedText g_fixedName;       // empty: the name carries the time
// Local time minus UTC when the handler was installed: a change to or from summer time while
// the process runs leaves the name an hour off, which beats a handler that can hang.
std::int64_t g_utcOffsetSeconds = 0;
std::atomic<bool> g_dumping{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler needs a lock-free flag");

struct CivilTime {
  std::int64_t year;
  int month, day, hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's algorithm).
CivilTime ToCivil(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  CivilTime t;
  t.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  t.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

void AppendDumpName(FixedText& name, std::int64_t year, int month, int day, int hour, int minute, int second) {
  name.Append("tmp");
  name.AppendSigned(year);
  name.Append("_");
  name.AppendDecimal(static_cast<std::uint64_t>(month), 2);
  name.Append("_");
  name.AppendDecimal(static_cast<std::uint64_t>(day), 2);
  name.Append("__");
  name.AppendDecimal(static_cast<std::uint64_t>(hour), 2);
  name.Append("_");
  name.AppendDecimal(static_cast<std::uint64_t>(minute), 2);
  name.Append("_");
  name.AppendDecimal(static_cast<std::uint64_t>(second), 2);
  name.Append(".dmp");
}

void AppendDumpNameAt(FixedText& name, std::int64_t localSeconds) {
  CivilTime t = ToCivil(localSeconds);
  AppendDumpName(name, t.year, t.month, t.day, t.hour, t.minute, t.second);
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "Segmentation fault";
    case SIGBUS: return "Bus error";
    case SIGFPE: return "Floating point exception";
    case SIGILL: return "Illegal instruction";
    case SIGABRT: return "Aborted";
    default: return "Fatal signal";
  }
}

void WriteAll(int fd, const char* text, std::size_t length) {
  while (length) {
    ssize_t n = ::write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

int OpenDumpFile() {
  FixedText name;
  if (g_fixedName.Length()) {
    name.Append(g_fixedName.Get());
  } else {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    AppendDumpNameAt(name, static_cast<std::int64_t>(now.tv_sec) + g_utcOffsetSeconds);
  }
  int fd = ::open(name.Get(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0 || !g_fallbackFolder.Length()) return fd;
  FixedText path;
  path.Append(g_fallbackFolder.Get());
  path.Append(name.Get());
  return ::open(path.Get(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void OnFatalSignal(int signal, siginfo_t* info, void*) {
  const int savedErrno = errno;
  // A second thread faulting meanwhile waits for the first dump; the process ends with it.
  if (g_dumping.exchange(true)) {
    for (;;) ::pause();
  }
  int fd = OpenDumpFile();
  if (fd >= 0) {
    FixedText header;
    header.Append("signal ");
    header.AppendDecimal(static_cast<std::uint64_t>(signal));
    header.Append(" (");
    header.Append(SignalName(signal));
    header.Append(")\naddress ");
    header.AppendHex(reinterpret_cast<std::uintptr_t>(info ? info->si_addr : nullptr));
    header.Append("\nbacktrace:\n");
    WriteAll(fd, header.Get(), header.Length());
    void* frames[64];
    int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
  }
  // Default action: the process ends (and dumps core) as it would have without us. The signal
  // is blocked in here, so it is delivered when the handler returns (or the fault repeats).
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  ::sigemptyset(&dfl.sa_mask);
  ::sigaction(signal, &dfl, nullptr);
  ::raise(signal);
  errno = savedErrno;
}

}  // namespace

std::string CrashDumpName(int year, int month, int day, int hour, int minute, int second) {
  FixedText name;
  AppendDumpName(name, year, month, day, hour, minute, second);
  return name.Get();
}

std::string CrashDumpNameAt(std::int64_t localSeconds) {
  FixedText name;
  AppendDumpNameAt(name, localSeconds);
  return name.Get();
}

void InstallCrashHandler(const std::string& fixedName) {
  g_fixedName = FixedText();
  g_fixedName.Append(fixedName.c_str());
  g_fallbackFolder = FixedText();
  std::string folder = LocalAppDataFolder();
  if (!folder.empty()) {
    g_fallbackFolder.Append(folder.c_str());
    g_fallbackFolder.Append("/");
  }
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  g_utcOffsetSeconds = local.tm_gmtoff;
  // backtrace() loads its unwinder lazily; do it now, not inside the handler.
  void* warm[1];
  ::backtrace(warm, 1);
  // A stack overflow needs a stack of its own to report on.
  static char altStack[64 * 1024];
  stack_t ss{};
  ss.ss_sp = altStack;
  ss.ss_size = sizeof altStack;
  ::sigaltstack(&ss, nullptr);
  struct sigaction sa {};
  sa.sa_sigaction = OnFatalSignal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  // A fault inside the handler then ends the process at once instead of re-entering it.
  ::sigemptyset(&sa.sa_mask);
  for (int signal : kSignals) ::sigaddset(&sa.sa_mask, signal);
  for (int signal : kSignals) ::sigaction(signal, &sa, nullptr);
}

void IgnoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

void IgnoreFileSizeLimit() { ::signal(SIGXFSZ, SIG_IGN); }

}  // namespace platform::system
