#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/system/MessageBox.h"
#include "platform/system/Process.h"

namespace platform::system {

void ShowWarningBox(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return;
  // The box must not keep our listeners open while it is shown; nothing waits for the user to
  // close it, but its process is collected when it ends.
  StartOptions options;
  options.arguments = {"--warning", "--no-markup", "--title=" + title, "--text=" + text};
  options.searchPath = true;
  options.quiet = true;
  if (auto pid = StartProcess("zenity", options)) CollectWhenEnded(*pid);
}

}  // namespace platform::system
