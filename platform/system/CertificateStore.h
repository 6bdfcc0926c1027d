#pragma once
// Trusting a root certificate for the user's browsers. Any thread.
#include <string>

namespace platform::system {

// Starts the system's certificate tool to add `certificateFile` as a trusted root and does not
// wait for it: the result is not known. False only when the tool could not be started.
bool StartRootCertificateInstall(const std::string& certificateFile);

}  // namespace platform::system
