#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/system/FileWriter.h"

namespace platform::system {

namespace {
FileWriter::Failure FailureOf(int error) {
  if (error == ENOSPC || error == EDQUOT || error == EFBIG) return FileWriter::Failure::kNoSpace;
  if (error == ELOOP) return FileWriter::Failure::kLink;
  return FileWriter::Failure::kOther;
}
}  // namespace

std::unique_ptr<FileWriter> FileWriter::Open(const std::string& path, Mode mode, Failure* failure) {
  if (failure != nullptr) *failure = Failure::kOther;
  if (path.empty()) return nullptr;
  const int base = O_WRONLY | O_CLOEXEC | O_NOFOLLOW;
  const int keep = mode == Mode::kAppend ? O_APPEND : 0;
  // First try to make it new, so we know whether it is ours to remove.
  int fd = ::open(path.c_str(), base | O_CREAT | O_EXCL | keep, 0644);
  bool created = fd >= 0;
  if (fd < 0 && errno == EEXIST) {
    fd = ::open(path.c_str(), base | keep | (mode == Mode::kTruncate ? O_TRUNC : 0));
  }
  if (fd < 0) {
    if (failure != nullptr) *failure = FailureOf(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // a device or fifo is no media file
    ::close(fd);
    return nullptr;
  }
  if (failure != nullptr) *failure = Failure::kNone;
  return std::unique_ptr<FileWriter>(new FileWriter(fd, path, created));
}

FileWriter::FileWriter(int fd, std::string path, bool created) : m_fd(fd), m_path(std::move(path)), m_created(created) {}

FileWriter::~FileWriter() {
  if (m_fd >= 0) ::close(m_fd);
}

bool FileWriter::Write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(m_fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      m_failure = FailureOf(errno);
      return false;
    }
    if (n == 0) {
      m_failure = Failure::kNoSpace;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t FileWriter::Seek(std::int64_t offset, int whence) {
  const int how = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
  return static_cast<std::int64_t>(::lseek(m_fd, static_cast<off_t>(offset), how));
}

bool FileWriter::Truncate(std::int64_t size) { return ::ftruncate(m_fd, static_cast<off_t>(size)) == 0; }

std::int64_t FileWriter::Size() const {
  struct stat st;
  return ::fstat(m_fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

void FileWriter::CloseAndRemoveIfCreated() {
  if (m_fd < 0) return;
  struct stat mine;
  struct stat named;
  const bool same = ::fstat(m_fd, &mine) == 0 && ::lstat(m_path.c_str(), &named) == 0 &&
                    mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
  ::close(m_fd);
  m_fd = -1;
  if (m_created && same) ::unlink(m_path.c_str());
}

std::optional<std::uint64_t> FreeBytesNear(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::filesystem::path at(path);
  std::error_code ec;
  while (!std::filesystem::is_directory(at, ec)) {
    if (!at.has_relative_path() || at.parent_path() == at) break;
    at = at.parent_path();
  }
  if (!std::filesystem::is_directory(at, ec)) return std::nullopt;
  struct statvfs vfs;
  if (::statvfs(at.c_str(), &vfs) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(vfs.f_bavail) * static_cast<std::uint64_t>(vfs.f_frsize);
}

}  // namespace platform::system
