#pragma once
// Trusting a root certificate for the user's browsers. Any thread.
#include <string>
#include <vector>

namespace platform::system {

// The user's certificate stores, as folders: the shared NSS database (Chromium), first, whether
// it exists or not, then the NSS database of each existing Firefox profile.
std::vector<std::string> RootCertificateStores();

// Starts the system's certificate tool to add `certificateFile` to each of `stores` as a
// trusted root under `label` and does not wait for it: the result is not known. A store's
// folder is made when missing. False only when the tool could not be started.
bool StartRootCertificateInstall(const std::string& certificateFile, const std::string& label,
                                 const std::vector<std::string>& stores);

// Has the tool remove the root trusted under `label` from every existing store, waiting a few
// seconds at most for each. False when there is no store or the tool could not be started or
// failed in one (for example: no such root).
bool RemoveRootCertificate(const std::string& label);

}  // namespace platform::system
