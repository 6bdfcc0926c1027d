#pragma once
// A file opened for writing that never follows a symbolic link at its final name, so a page
// naming a link cannot make the service write where the link points. Unbuffered: every Write
// reaches the system at once, and a full disk shows as a failed Write. Used by one thread at a
// time (its owner serialises calls).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform::system {

class FileWriter {
 public:
  enum class Mode {
    kTruncate,  // create, or empty an existing file
    kAppend,    // create, or write after the existing end
    kKeep,      // create, or keep an existing file's bytes until Truncate
  };
  enum class Failure { kNone, kNoSpace, kLink, kOther };

  // Null when the file cannot be opened; `failure` (optional) says why.
  static std::unique_ptr<FileWriter> Open(const std::string& path, Mode mode, Failure* failure = nullptr);
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Writes all of `size` bytes; false on any failure (see LastFailure).
  bool Write(const void* data, std::size_t size);
  // whence: 0 from the start, 1 from the current position, 2 from the end. The new position, or -1.
  std::int64_t Seek(std::int64_t offset, int whence);
  bool Truncate(std::int64_t size);
  std::int64_t Size() const;
  Failure LastFailure() const { return m_failure; }
  // True when this object made the file (it did not exist before Open).
  bool Created() const { return m_created; }
  // Closes, and removes the file when this object made it and it is still the same file.
  void CloseAndRemoveIfCreated();

 private:
  FileWriter(int fd, std::string path, bool created);
  int m_fd;
  std::string m_path;
  bool m_created;
  Failure m_failure = Failure::kNone;
};

// Free bytes available to this user on the volume of `path`'s nearest existing folder (the
// path itself, or the first existing parent); empty when none can be asked.
std::optional<std::uint64_t> FreeBytesNear(const std::string& path);

}  // namespace platform::system
