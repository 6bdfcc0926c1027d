#include "platform/display/Display.h"
#include "platform/display/headless/HeadlessDisplay.h"

namespace platform::display {

std::unique_ptr<IDisplay> OpenDisplay(std::string* note) {
  if (note) *note = "No X display: windows are kept in memory (headless display).";
  return std::make_unique<HeadlessDisplay>();
}

}  // namespace platform::display
