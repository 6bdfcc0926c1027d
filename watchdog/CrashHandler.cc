#include "watchdog/CrashHandler.h"

// The crash dump itself belongs to platform/system, shared with the service.
#if __has_include("platform/system/CrashDump.h")
#include "platform/system/CrashDump.h"

void InstallWatchdogCrashHandler() { platform::system::InstallCrashDumpHandler("tmp.dmp"); }
#else
void InstallWatchdogCrashHandler() {}
#endif
