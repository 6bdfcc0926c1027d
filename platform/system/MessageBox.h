#pragma once
// A warning for the person at the desktop. Never waits for them: on Linux a detached
// `zenity --warning` when a display is there, and the text always goes to standard error too.
#include <string>

namespace platform::system {

void ShowWarningBox(const std::string& title, const std::string& text);

}  // namespace platform::system
