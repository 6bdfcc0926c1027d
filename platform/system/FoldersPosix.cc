#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/system/Folders.h"

namespace platform::system {

namespace {
std::string Home() {
  const char* h = ::getenv("HOME");
  if (h && *h) return h;
  struct passwd* pw = ::getpwuid(::getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "";
}
}  // namespace

std::string LocalAppDataFolder() {
  std::string folder;
  const char* x = ::getenv("XDG_DATA_HOME");
  if (x && *x) {
    folder = x;
  } else {
    std::string home = Home();
    if (home.empty()) return {};
    folder = home + "/.local/share";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder;
}

std::string DefaultFolderRoot() {
  std::string home = Home();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home;
}

char PathSeparator() { return '/'; }

bool PathsHaveDriveLetters() { return false; }

bool IsFullPath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string ProgramFolder() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return WorkingDirectory();
  return p.parent_path().string();
}

bool ChangeWorkingDirectory(const std::string& folder) { return ::chdir(folder.c_str()) == 0; }

std::string WorkingDirectory() {
  std::error_code ec;
  return std::filesystem::current_path(ec).string();
}

}  // namespace platform::system
