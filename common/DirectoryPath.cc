#include "common/DirectoryPath.h"

#include <filesystem>
#include <system_error>

int MakeDirectoryPath(const std::string& path) {
  bool sawSeparator = false;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '\\' && path[i] != '/') continue;
    sawSeparator = true;
    std::string prefix = path.substr(0, i);
    if (prefix.empty()) continue;  // root of an absolute path
    std::error_code ec;
    std::filesystem::path p(prefix);
    if (std::filesystem::exists(p, ec)) continue;
    if (!std::filesystem::create_directory(p, ec) && !std::filesystem::is_directory(p, ec)) return -1;
  }
  return sawSeparator ? 0 : -1;
}
