#pragma once
// Trusting a root certificate for the user's browsers. Any thread.
#include <string>

namespace platform::system {

// Starts the system's certificate tool to add `certificateFile` as a trusted root under
// `label` and does not wait for it: the result is not known. False only when the tool could
// not be started.
bool StartRootCertificateInstall(const std::string& certificateFile, const std::string& label);

// Has the tool remove the root trusted under `label`, waiting a few seconds at most. False when
// there is no store or the tool could not be started or failed (for example: no such root).
bool RemoveRootCertificate(const std::string& label);

}  // namespace platform::system
