// The watchdog's rule for which root it has the browsers trust, against certificates the
// openssl tool makes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/TempFolder.h"
#include "watchdog/RootCertificate.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RootCertificateTest : public ::testing::Test {
 protected:
  // A self-signed certificate named `name` with the given extensions ("-addext" values).
  std::string Make(const std::string& name, const std::vector<std::string>& extensions) {
    std::string file = m_folder.File(name + ".crt");
    std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout /dev/null "
                          "-days 2 -subj '/CN=" + name + "' -out '" + file + "'";
    for (const auto& e : extensions) command += " -addext '" + e + "'";
    EXPECT_EQ(std::system((command + " 2>/dev/null").c_str()), 0) << command;
    return file;
  }

  TempFolder m_folder;
};

constexpr char kCa[] = "basicConstraints=critical,CA:TRUE";
constexpr char kLoopback[] =
    "permitted;IP:127.0.0.1/255.255.255.255,permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff,"
    "permitted;DNS:localhost";

TEST_F(RootCertificateTest, OnlyACaConstrainedToLoopbackIsAccepted) {
  const std::string critical = std::string("nameConstraints=critical,") + kLoopback;
  struct Case {
    std::string name;
    std::vector<std::string> extensions;
    std::string why;  // empty: accepted
  } cases[] = {
      {"loopback", {kCa, critical}, ""},
      {"only localhost", {kCa, "nameConstraints=critical,permitted;DNS:localhost"}, ""},
      {"unconstrained", {kCa}, "no name constraints"},
      {"not critical", {kCa, std::string("nameConstraints=") + kLoopback}, "name constraints not critical"},
      {"another site too", {kCa, critical + ",permitted;DNS:example.com"}, "a permitted name other"},
      {"the whole 127 network", {kCa, "nameConstraints=critical,permitted;IP:127.0.0.0/255.0.0.0"}, "a permitted name other"},
      {"localhost subdomains", {kCa, "nameConstraints=critical,permitted;DNS:.localhost"}, "a permitted name other"},
      {"only exclusions", {kCa, "nameConstraints=critical,excluded;DNS:example.com"}, "no permitted names"},
      {"not a CA", {"basicConstraints=critical,CA:FALSE", critical}, "not a CA"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = Make(c.name, c.extensions);
    std::string why;
    auto label = LoopbackRootLabel(file, why);
    if (c.why.empty()) {
      EXPECT_EQ(label, c.name) << why;
    } else {
      EXPECT_FALSE(label);
      EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
    }
  }
}

// The certificate tool installs the first block it finds, so a file must hold the checked one
// and nothing else.
TEST_F(RootCertificateTest, FilesWithMoreOrOtherThanOneCertificateAreRefused) {
  const std::string good = ReadFile(Make("good", {kCa, std::string("nameConstraints=critical,") + kLoopback}));
  const std::string bad = ReadFile(Make("bad", {kCa}));
  std::string renamed = bad;
  for (size_t at = 0; (at = renamed.find("CERTIFICATE-----", at)) != std::string::npos; at += 21)
    renamed.replace(at, 16, "X509 CERTIFICATE-----");
  struct Case {
    std::string name, text;
  } cases[] = {
      {"good then bad", good + bad},
      {"bad under another label first", renamed + good},
      {"empty", ""},
      {"text only", "hello\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = m_folder.File("mixed.crt");
    std::ofstream(file, std::ios::trunc) << c.text;
    std::string why;
    EXPECT_FALSE(LoopbackRootLabel(file, why));
    EXPECT_FALSE(why.empty());
  }
  std::string why;
  EXPECT_FALSE(LoopbackRootLabel(m_folder.File("absent.crt"), why));
}

}  // namespace
