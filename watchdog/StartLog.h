#pragma once
#include <string>

#include "platform/system/Clock.h"

// Appends "[YYYY-MM-DD hh:mm:ss] Start the Service Control.\n" to `path`; false (and nothing
// written) when the file cannot be opened.
bool AppendStartLogLine(const std::string& path, const platform::system::CalendarTime& when);
