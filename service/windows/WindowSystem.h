#pragma once
// Opens the window system for the process: X11 when a display opens, else the in-memory display
// (with one log line), and lets window groups show players' video. Called once at start-up by
// the service's wiring, which owns the display for the process's life and hands it to the groups.
#include <memory>

#include "platform/display/Display.h"

std::unique_ptr<platform::display::IDisplay> OpenWindowSystem();
