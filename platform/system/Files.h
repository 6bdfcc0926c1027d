#pragma once
// Files opened with care for names a web page chose: links and special files are recognised and
// refused where the caller must not be tricked by them. Any thread.
#include <cstddef>
#include <optional>
#include <string>

namespace platform::system {

// The absolute name with every link, "." and ".." resolved; nullopt when a part does not exist
// or cannot be searched.
std::optional<std::string> RealPath(const std::string& path);

// A full name: on Linux one starting with '/'; on Windows a drive letter, colon and separator,
// or a UNC name.
bool IsAbsolutePath(const std::string& path);

enum class FileKind { kMissing, kRegular, kFolder, kLink, kOther };
// What is at `path` itself: a link is reported as a link, not followed.
FileKind KindOf(const std::string& path);

// The whole content of a regular file of at most `maxBytes`. A link is followed; a special file
// (fifo, device, socket) is never waited on. nullopt when the file is missing, unreadable, not
// regular or larger than `maxBytes`.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes);

// Makes `data` the whole content of `path`, creating it when missing. Refused (false) when the
// last name is a link or anything but a regular file; a special file is never waited on nor
// truncated. false also when the write fails.
bool WriteRegularFile(const std::string& path, const void* data, std::size_t size);

}  // namespace platform::system
