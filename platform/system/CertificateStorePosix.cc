#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/system/CertificateStore.h"
#include "platform/system/Folders.h"
#include "platform/system/Process.h"

namespace platform::system {

namespace {

constexpr int kRemoveTimeoutMs = 5000;

// Chromium trusts the roots in the user's shared NSS database; empty when no home is known.
std::string UserDatabase() {
  std::string home = DefaultFolderRoot();
  return home.empty() ? std::string() : home + "/.pki/nssdb";
}

// Firefox keeps an NSS database in each profile folder and reads neither the shared one nor, on
// Linux, the system's roots. Its profiles lie in ~/.mozilla/firefox or, for users a recent
// release met first (ESR 153 does so), in $XDG_CONFIG_HOME/mozilla/firefox; a profile is a
// folder there with Firefox's preferences or certificate database in it.
std::vector<std::string> FirefoxDatabases() {
  std::vector<std::string> databases;
  std::string home = DefaultFolderRoot();
  if (home.empty()) return databases;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string configHome = config && config[0] == '/' ? std::string(config) : home + "/.config";
  for (const std::string& root : {home + "/.mozilla/firefox", configHome + "/mozilla/firefox"}) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
      const auto& folder = it->path();
      if (it->is_directory(ec) && (std::filesystem::exists(folder / "cert9.db", ec) ||
                                   std::filesystem::exists(folder / "prefs.js", ec)))
        databases.push_back(folder.string());
    }
  }
  return databases;
}

std::optional<ProcessId> StartCertutil(std::vector<std::string> arguments) {
  StartOptions options;
  options.searchPath = true;
  options.quiet = true;
  options.arguments = std::move(arguments);
  return StartProcess("certutil", options);
}

}  // namespace

std::vector<std::string> RootCertificateStores() {
  std::vector<std::string> stores = FirefoxDatabases();
  std::string shared = UserDatabase();
  if (!shared.empty()) stores.insert(stores.begin(), shared);
  return stores;
}

// NSS's certutil creates a database when its folder exists but is empty: so the shared one is
// made for a Chromium not yet started.
bool StartRootCertificateInstall(const std::string& certificateFile, const std::string& label,
                                 const std::vector<std::string>& stores) {
  if (stores.empty()) return false;
  bool started = true;
  for (const auto& store : stores) {
    std::error_code ec;
    std::filesystem::create_directories(store, ec);
    started = StartCertutil({"-d", "sql:" + store, "-A", "-t", "C,,", "-n", label, "-i", certificateFile})
                  .has_value() &&
              started;
  }
  return started;
}

bool RemoveRootCertificate(const std::string& label) {
  std::vector<std::string> stores;
  for (const auto& store : RootCertificateStores()) {
    std::error_code ec;
    if (std::filesystem::is_directory(store, ec)) stores.push_back(store);
  }
  bool removed = !stores.empty();
  for (const auto& store : stores) {
    auto pid = StartCertutil({"-d", "sql:" + store, "-D", "-n", label});
    // A tool that hangs is left to run; the ordinary reaping collects it.
    removed = pid && WaitForExit(*pid, kRemoveTimeoutMs) == 0 && removed;
  }
  return removed;
}

}  // namespace platform::system
