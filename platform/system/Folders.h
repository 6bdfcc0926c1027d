#pragma once
#include <string>

namespace platform::system {

// The user's local application-data folder ($XDG_DATA_HOME, else ~/.local/share), no trailing
// separator; created when missing. Empty when no home is known.
std::string LocalAppDataFolder();
// The root under which default save folders go ($HOME on Linux, "C:" on Windows).
std::string DefaultFolderRoot();
// The separator the platform writes into paths it makes.
char PathSeparator();
// The folder of the running program (no trailing separator).
std::string ProgramFolder();
bool ChangeWorkingDirectory(const std::string& folder);
std::string WorkingDirectory();

}  // namespace platform::system
