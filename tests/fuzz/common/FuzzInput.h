#pragma once
// Helpers of fuzz targets: splitting an input into fields, and a scratch folder of the process's
// own for parsers that read from a path.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace fuzzinput {

// The text from `at` up to the next `separator` (or the end); `at` moves past the separator.
inline std::string TakeField(const std::string& text, size_t& at, char separator) {
  size_t end = text.find(separator, at);
  if (end == std::string::npos) end = text.size();
  std::string field = text.substr(at, end - at);
  at = end < text.size() ? end + 1 : end;
  return field;
}

// A fresh, empty folder under the system's temporary folder, the same for the whole process and
// removed when it ends.
inline const std::filesystem::path& ScratchFolder() {
  struct Folder {
    Folder() {
      std::random_device random;
      path = std::filesystem::temp_directory_path() /
             ("nimbrel-fuzz-" + std::to_string(random()) + std::to_string(random()));
      std::filesystem::create_directories(path);
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
  };
  static const Folder folder;
  return folder.path;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace fuzzinput
