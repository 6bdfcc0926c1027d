#pragma once
// One running instance per name, across the user's session. Called once at start by the
// program's main thread; the lock lives until the process ends.
#include <string>

namespace platform::system {

enum class SingleInstanceResult { kAcquired, kAlreadyRunning, kFailed };

// Takes the instance lock named `name` and keeps it for the rest of the process. The lock is
// never passed on to started programs, so a service left behind cannot hold it.
SingleInstanceResult AcquireSingleInstance(const std::string& name);

}  // namespace platform::system
