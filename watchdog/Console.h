#pragma once
// Progress texts on standard output, flushed line by line so a reader of a pipe or file sees
// them at once. Watchdog thread only.
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
