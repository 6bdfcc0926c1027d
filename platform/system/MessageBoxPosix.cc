#include "platform/system/MessageBox.h"

#include <spawn.h>
#include <sys/wait.h>
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
  // A grandchild shows the box, so it outlives us without being waited for or left a zombie.
  pid_t child = ::fork();
  if (child == 0) {
    pid_t box;
    int rc = ::posix_spawnp(&box, "zenity", nullptr, nullptr, argv, environ);
    ::_exit(rc == 0 ? 0 : 1);
  }
  if (child > 0) ::waitpid(child, nullptr, 0);
}

}  // namespace platform::system
