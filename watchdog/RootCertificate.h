#pragma once
// Which root certificate the watchdog may have the user's browsers trust. Watchdog thread only.
#include <optional>
#include <string>

// The label to trust `pemFile` under (its subject's common name) when the file holds exactly
// one PEM certificate, a CA whose critical name constraints permit only 127.0.0.1, ::1 and
// localhost (each at most once, at least one): even with its key, such a root vouches for no
// other site. Empty otherwise, with the reason in `why`.
std::optional<std::string> LoopbackRootLabel(const std::string& pemFile, std::string& why);

// Has the user's browsers trust `pemFile` when LoopbackRootLabel accepts it, else writes one
// debug line saying why not. Either way the root that earlier builds installed (unconstrained,
// its key kept beside the service) is withdrawn first.
void TrustRootCertificate(const std::string& pemFile);
