#pragma once
#include <string>

#include "common/CalendarTime.h"

// "%d_%02d_%02d__%02d_%02d_%02d": crash dump names and other time-stamped files.
std::string FormatTimeText(const CalendarTime& t);
// "YYYY-MM-DD hh:mm:ss".
std::string FormatLogTime(const CalendarTime& t);
