#include "platform/system/Shell.h"

#include <mutex>

namespace platform::system {

namespace {
std::mutex& HooksMutex() {
  static std::mutex m;
  return m;
}
ShellHooks& Hooks() {
  static ShellHooks h;
  return h;
}
}  // namespace

void SetShellHooks(ShellHooks hooks) {
  std::lock_guard<std::mutex> lock(HooksMutex());
  Hooks() = std::move(hooks);
}

bool ShellOpen(const std::string& path) {
  std::function<bool(const std::string&)> open;
  {
    std::lock_guard<std::mutex> lock(HooksMutex());
    open = Hooks().open;
  }
  return open ? open(path) : NativeShellOpen(path);
}

std::optional<std::string> PickFolder() {
  std::function<std::optional<std::string>()> pick;
  {
    std::lock_guard<std::mutex> lock(HooksMutex());
    pick = Hooks().pickFolder;
  }
  return pick ? pick() : NativePickFolder();
}

}  // namespace platform::system
