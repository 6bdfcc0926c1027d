#include "watchdog/CrashHandler.h"

#include "platform/system/CrashHandler.h"

// The working directory is the watchdog's own folder by the time anything runs.
void InstallWatchdogCrashHandler() { platform::system::InstallCrashHandler("tmp.dmp"); }
