#include <filesystem>
#include <system_error>

#include "platform/system/CertificateStore.h"
#include "platform/system/Folders.h"
#include "platform/system/Process.h"

namespace platform::system {

namespace {

constexpr int kRemoveTimeoutMs = 5000;

// Browsers on Linux (Chromium and the NSS-based ones) trust the roots in the user's shared NSS
// database; empty when no home is known.
std::string UserDatabase() {
  std::string home = DefaultFolderRoot();
  return home.empty() ? std::string() : home + "/.pki/nssdb";
}

std::optional<ProcessId> StartCertutil(std::vector<std::string> arguments) {
  StartOptions options;
  options.searchPath = true;
  options.quiet = true;
  options.arguments = std::move(arguments);
  return StartProcess("certutil", options);
}

}  // namespace

// NSS's certutil creates the database when its folder exists but is empty.
bool StartRootCertificateInstall(const std::string& certificateFile, const std::string& label) {
  std::string database = UserDatabase();
  if (database.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(database, ec);
  return StartCertutil({"-d", "sql:" + database, "-A", "-t", "C,,", "-n", label, "-i", certificateFile})
      .has_value();
}

bool RemoveRootCertificate(const std::string& label) {
  std::string database = UserDatabase();
  std::error_code ec;
  if (database.empty() || !std::filesystem::is_directory(database, ec)) return false;
  auto pid = StartCertutil({"-d", "sql:" + database, "-D", "-n", label});
  if (!pid) return false;
  auto code = WaitForExit(*pid, kRemoveTimeoutMs);
  // A tool that hangs is left to run; the ordinary reaping collects it.
  return code == 0;
}

}  // namespace platform::system
