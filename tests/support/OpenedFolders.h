#pragma once
// Stands in for the desktop shell while it lives: records the paths the service asks to open
// (any thread) instead of starting a file manager.
#include <mutex>
#include <string>
#include <vector>

#include "platform/system/Shell.h"

class OpenedFolders {
 public:
  OpenedFolders() {
    platform::system::SetShellHooks({[this](const std::string& path) {
                                       std::lock_guard<std::mutex> lock(m_mutex);
                                       m_paths.push_back(path);
                                       return true;
                                     },
                                     nullptr});
  }
  ~OpenedFolders() { platform::system::SetShellHooks({}); }
  OpenedFolders(const OpenedFolders&) = delete;
  OpenedFolders& operator=(const OpenedFolders&) = delete;
  // What was opened since the last call.
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::move(m_paths);
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_paths;
};
