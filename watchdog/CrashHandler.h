#pragma once

// Makes an unhandled fault anywhere in the watchdog leave "tmp.dmp" in the working directory.
void InstallWatchdogCrashHandler();
