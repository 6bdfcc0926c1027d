#pragma once
// Opens the window system for the process: X11 when a display opens, else the in-memory display
// (with one log line), and lets window groups show players' video. Call once at start-up, before
// the first command; the display lives until the process ends.
void StartWindowSystem();
