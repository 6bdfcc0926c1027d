#pragma once
// A local date and time of day, as the clock reads it and time texts print it.
struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
