#include <filesystem>
#include <system_error>

#include "platform/system/CertificateStore.h"
#include "platform/system/Folders.h"
#include "platform/system/Process.h"

namespace platform::system {

// Browsers on Linux (Chromium and the NSS-based ones) trust the roots in the user's shared NSS
// database; NSS's certutil creates the database when its folder exists but is empty.
bool StartRootCertificateInstall(const std::string& certificateFile) {
  std::string home = DefaultFolderRoot();
  if (home.empty()) return false;
  std::string database = home + "/.pki/nssdb";
  std::error_code ec;
  std::filesystem::create_directories(database, ec);
  StartOptions options;
  options.searchPath = true;
  options.quiet = true;
  options.arguments = {"-d", "sql:" + database, "-A", "-t", "C,,", "-n", "Nimbrel Local Root CA",
                       "-i", certificateFile};
  return StartProcess("certutil", options).has_value();
}

}  // namespace platform::system
