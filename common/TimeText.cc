#include "common/TimeText.h"

#include <cstdio>

std::string FormatTimeText(const CalendarTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d_%02d_%02d__%02d_%02d_%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

std::string FormatLogTime(const CalendarTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}
