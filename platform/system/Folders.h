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
// Whether paths start with a drive letter and its colon ("C:\\..."): true on Windows, false on
// Linux, where a ':' is an ordinary character of a name.
bool PathsHaveDriveLetters();
// A path given in full, from the root of the file system (not relative to the working folder).
bool IsFullPath(const std::string& path);
// The folder of the running program (no trailing separator).
std::string ProgramFolder();
bool ChangeWorkingDirectory(const std::string& folder);
std::string WorkingDirectory();

}  // namespace platform::system
