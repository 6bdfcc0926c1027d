#pragma once
// The two window classes: their procedures find the group a window belongs to (through
// WndObjManager) and hand the message to it; windows no group owns get no handling.
#include "platform/display/Display.h"

platform::display::IWindowDelegate& ContainerClassProc();
platform::display::IWindowDelegate& PaneClassProc();

// Sleeps for the group's waits (0 = none).
void WndSleep(int ms);
