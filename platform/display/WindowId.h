#pragma once
#include <cstdint>

namespace platform::display {
// A window of the display backend (an X11 window id; a headless id; an HWND on Windows). 0 = none.
using WindowId = std::uintptr_t;
}  // namespace platform::display
