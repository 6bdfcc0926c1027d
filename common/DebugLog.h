#pragma once
// The service's debug log: one line "[Nimbrel] <text>\n", no time stamp or level.
// Any thread may log; each line is written with one call so lines never interleave.
#include <functional>
#include <string>

void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugLogText(const std::string& text);

// Tests capture lines (text without prefix and newline); an empty sink restores standard error.
using DebugLogSink = std::function<void(const std::string&)>;
void SetDebugLogSink(DebugLogSink sink);
