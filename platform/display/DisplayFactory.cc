#include "platform/display/Display.h"
#include "platform/display/headless/HeadlessDisplay.h"
#include "platform/display/x11/X11Display.h"

namespace platform::display {

std::unique_ptr<IDisplay> OpenDisplay(std::string* note) {
  if (auto x11 = X11Display::Open()) {
    if (note) *note = "Display: X11.";
    return x11;
  }
  if (note) *note = "No X display could be opened: windows are kept in memory (headless display).";
  return std::make_unique<HeadlessDisplay>();
}

}  // namespace platform::display
