#pragma once
// Crash dumps: on a fatal signal (or unhandled exception) a file "tmp<time text>.dmp" is written in
// the working directory, else in the local application-data folder, then the process ends as
// it would have. Call once at start-up from the entry thread. A non-empty `fixedName` is used
// instead of the time-stamped name (the watchdog's dump).
#include <cstdint>
#include <string>

namespace platform::system {

void InstallCrashHandler(const std::string& fixedName = {});

// A write to a vanished peer then reports an error instead of ending the process.
void IgnoreBrokenPipe();
// A write past the user's file-size limit then fails (EFBIG) like one to a full disk, instead of
// ending the process.
void IgnoreFileSizeLimit();

// The dump file name for a local time: "tmp" + "%d_%02d_%02d__%02d_%02d_%02d" + ".dmp".
std::string CrashDumpName(int year, int month, int day, int hour, int minute, int second);

// The same name for a local time given as seconds since 1970-01-01 00:00 of local time, as
// the handler forms it (by hand: it may not call the C library's time functions).
std::string CrashDumpNameAt(std::int64_t localSeconds);

}  // namespace platform::system
