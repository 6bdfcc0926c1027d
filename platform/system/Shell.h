#pragma once
// The desktop shell: opening a folder or file with the user's default application, and the
// folder picker. Callable from any thread; the picker blocks its caller until the user answers.
#include <functional>
#include <optional>
#include <string>

namespace platform::system {

// Starts the default opener on `path` and does not wait for it. False when it could not start.
bool ShellOpen(const std::string& path);
// Shows a folder picker; the chosen folder, or empty when cancelled or no picker is available.
std::optional<std::string> PickFolder();

// Tests replace the real shell so no program starts and no dialog opens. An empty function
// restores the real one.
struct ShellHooks {
  std::function<bool(const std::string&)> open;
  std::function<std::optional<std::string>()> pickFolder;
};
void SetShellHooks(ShellHooks hooks);

// The real implementations, per platform.
bool NativeShellOpen(const std::string& path);
std::optional<std::string> NativePickFolder();

}  // namespace platform::system
