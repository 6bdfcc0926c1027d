#pragma once

// The watchdog program: settles in its own folder, keeps a single instance, trusts the
// service's root certificate, then checks the service and the plug-in at once and after every
// period. Returns 0 when another instance runs; otherwise it does not return.
int RunWatchdog();
