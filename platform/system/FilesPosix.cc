#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/system/Files.h"

namespace platform::system {

namespace {
// Closes the descriptor however the function leaves.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};
}  // namespace

std::optional<std::string> RealPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

FileKind KindOf(const std::string& path) {
  struct stat st;
  if (path.find('\0') != std::string::npos || ::lstat(path.c_str(), &st) != 0) return FileKind::kMissing;
  if (S_ISLNK(st.st_mode)) return FileKind::kLink;
  if (S_ISREG(st.st_mode)) return FileKind::kRegular;
  if (S_ISDIR(st.st_mode)) return FileKind::kFolder;
  return FileKind::kOther;
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes) {
  if (path.find('\0') != std::string::npos) return std::nullopt;
  // Non-blocking, so opening a fifo returns at once; the type is checked on what was opened.
  Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
  if (file.fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (static_cast<unsigned long long>(st.st_size) > maxBytes) return std::nullopt;
  std::string content;
  content.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[64 * 1024];
  for (;;) {
    ssize_t got = ::read(file.fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    // The file may grow while it is read.
    if (content.size() + static_cast<std::size_t>(got) > maxBytes) return std::nullopt;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

bool WriteRegularFile(const std::string& path, const void* data, std::size_t size) {
  if (path.find('\0') != std::string::npos) return false;
  // No O_TRUNC at open: what was opened is checked first, so a special file is never truncated.
  Descriptor file{::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666)};
  if (file.fd < 0) return false;
  struct stat st;
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (::ftruncate(file.fd, 0) != 0) return false;
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t wrote = ::write(file.fd, bytes + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  int fd = file.fd;
  file.fd = -1;
  return ::close(fd) == 0;
}

}  // namespace platform::system
