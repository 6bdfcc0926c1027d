#include "watchdog/CrashHandler.h"

// The crash dump belongs to platform/system, shared with the service; until it is on this
// branch the watchdog runs without one.
#if __has_include("platform/system/CrashHandler.h")
#include "platform/system/CrashHandler.h"

// The dump lands in the working directory, the watchdog's own folder by the time anything runs;
// its name carries the time, as the service's does.
void InstallWatchdogCrashHandler() { platform::system::InstallCrashHandler(); }
#else
void InstallWatchdogCrashHandler() {}
#endif
