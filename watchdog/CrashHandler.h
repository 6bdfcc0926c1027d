#pragma once

// Makes a fatal fault anywhere in the watchdog leave a dump file in the working directory.
void InstallWatchdogCrashHandler();
