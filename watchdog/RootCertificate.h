#pragma once
// Which root certificate the watchdog may have the user's browsers trust. Watchdog thread only.
#include <optional>
#include <set>
#include <string>
#include <vector>

// The label to trust `pemFile` under (its subject's common name) when the file holds exactly
// one PEM certificate, a CA whose critical name constraints permit only 127.0.0.1, ::1 and
// localhost (each at most once, at least one): even with its key, such a root vouches for no
// other site. Empty otherwise, with the reason in `why`.
std::optional<std::string> LoopbackRootLabel(const std::string& pemFile, std::string& why);

// Has the user's browsers trust the service's root: every store at start, and later each store
// that appears (a Firefox profile made after the watchdog started). Watchdog thread only.
class RootTrust {
 public:
  // Withdraws the root that earlier builds installed (unconstrained, its key kept beside the
  // service); then trusts `pemFile` in every store when LoopbackRootLabel accepts it, else
  // writes one debug line saying why not.
  void Start(const std::string& pemFile);

  // Trusts an accepted root in the stores that appeared since the last look.
  void CheckOnce();

 private:
  void TrustIn(const std::vector<std::string>& stores);

  std::string m_pemFile;
  std::optional<std::string> m_label;
  std::set<std::string> m_known;  // stores already given the root
};
