// The certificates make-certs.sh leaves: a root CA limited to the loopback names whose key is
// nowhere, and a server certificate it signed; checked with the openssl tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

std::string Run(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

bool MakeCertificates(const fs::path& runDir) {
  return std::system(("bash " NIMBREL_SOURCE_DIR "/scripts/make-certs.sh " + Quoted(runDir) + " >/dev/null").c_str()) ==
         0;
}

std::string Fingerprint(const fs::path& certificate) {
  return Run("openssl x509 -noout -fingerprint -sha256 -in " + Quoted(certificate));
}

// The lines of one extension in `openssl x509 -text` output (its heading and the lines indented
// below it), without their indentation.
std::string ExtensionBlock(const std::string& text, const std::string& heading) {
  size_t at = text.find(heading);
  if (at == std::string::npos) return {};
  size_t lineStart = text.rfind('\n', at) + 1;
  const size_t indent = at - lineStart;
  std::string block = text.substr(at, text.find('\n', at) - at + 1);
  for (size_t line = text.find('\n', at) + 1; line < text.size();) {
    size_t end = text.find('\n', line);
    if (end == std::string::npos) end = text.size();
    size_t first = text.find_first_not_of(' ', line);
    if (first - line <= indent) break;
    block += text.substr(first, end - first) + "\n";
    line = end + 1;
  }
  return block;
}

// Checks what a browser or the watchdog relies on in `dir` (a run directory's certificates).
void ExpectSoundCertificates(const fs::path& dir) {
  const std::string ca = Quoted(dir / "rootCA.crt");
  const std::string text = Run("openssl x509 -noout -text -in " + ca);
  EXPECT_EQ(ExtensionBlock(text, "X509v3 Name Constraints"),
            "X509v3 Name Constraints: critical\n"
            "Permitted:\n"
            "IP:127.0.0.1/255.255.255.255\n"
            "IP:0:0:0:0:0:0:0:1/FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF\n"
            "DNS:localhost\n")
      << text;
  EXPECT_NE(text.find("CA:TRUE, pathlen:0"), std::string::npos) << text;

  const std::string leaf = Quoted(dir / "server-cert.pem");
  for (const char* name : {"-verify_ip 127.0.0.1", "-verify_ip ::1", "-verify_hostname localhost"})
    EXPECT_EQ(Run(std::string("openssl verify ") + name + " -CAfile " + ca + " " + leaf), dir.string() + "/server-cert.pem: OK\n")
        << name;
  EXPECT_NE(Run("openssl verify -verify_hostname example.com -CAfile " + ca + " " + leaf).find("error"),
            std::string::npos);
  EXPECT_EQ(Run("openssl x509 -noout -pubkey -in " + leaf),
            Run("openssl pkey -pubout -in " + Quoted(dir / "server-key.pem")));

  // No private key but the server's, and that one for the owner alone.
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "rootCA.crt" || name == "server-cert.pem" || name == "server-key.pem") << name;
  }
  EXPECT_EQ(fs::status(dir / "server-key.pem").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST(Certificates, TheBuildsRunDirectoryHoldsAConstrainedRootWithoutItsKey) {
  ExpectSoundCertificates(fs::path(NIMBREL_RUN_DIR) / "certificates");
}

// A run directory from before: a root CA with its key beside it and no constraints. The script
// puts a new CA in its place and keeps a sound set as it is.
TEST(Certificates, AnOldRootAndItsKeyAreReplacedASoundSetKept) {
  TempFolder run;
  const fs::path dir = run.Path() / "certificates";
  fs::create_directories(dir);
  const std::string make = "cd " + Quoted(dir) +
                           " && openssl req -x509 -newkey rsa:2048 -nodes -keyout rootCA.key -out rootCA.crt "
                           "-subj /CN=Old -addext basicConstraints=critical,CA:TRUE"
                           " && openssl req -newkey rsa:2048 -nodes -keyout server-key.pem -subj /CN=localhost"
                           " | openssl x509 -req -CA rootCA.crt -CAkey rootCA.key -set_serial 1 -out server-cert.pem";
  ASSERT_EQ(std::system(("{ " + make + "; } >/dev/null 2>&1").c_str()), 0);
  const std::string old = Fingerprint(dir / "rootCA.crt");

  ASSERT_TRUE(MakeCertificates(run.Path()));
  EXPECT_FALSE(fs::exists(dir / "rootCA.key"));
  const std::string renewed = Fingerprint(dir / "rootCA.crt");
  EXPECT_NE(renewed, old);
  ExpectSoundCertificates(dir);

  fs::permissions(dir / "server-key.pem", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  ASSERT_TRUE(MakeCertificates(run.Path()));
  EXPECT_EQ(Fingerprint(dir / "rootCA.crt"), renewed);
  ExpectSoundCertificates(dir);
}

}  // namespace
