#include "platform/system/MessageBox.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern char** environ;

namespace platform::system {

void ShowWarningBox(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return;
  std::string titleArg = "--title=" + title;
  std::string textArg = "--text=" + text;
  char* argv[] = {const_cast<char*>("zenity"), const_cast<char*>("--warning"), titleArg.data(), textArg.data(),
                  nullptr};
  // The box must not keep our listeners open while it is shown; it is never waited for.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  pid_t pid;
  posix_spawnp(&pid, "zenity", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace platform::system
