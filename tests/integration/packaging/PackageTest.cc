// The .deb that cpack makes from this build: where each file lands, what it depends on, its
// maintainer scripts, lintian's verdict; and the script that withdraws the roots, against real
// NSS databases. The test packaging_build_deb builds the package first; it is never installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string output;  // standard output and error
};

Result Shell(const std::string& command) {
  Result r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
  r.status = pclose(p);
  return r;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

bool Have(const std::string& tool) { return Shell("command -v " + tool).status == 0; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Have("dpkg-deb")) GTEST_SKIP() << "dpkg-deb missing";
    std::error_code ec;
    for (fs::directory_iterator it(PACKAGE_DIR, ec), end; !ec && it != end; it.increment(ec))
      if (it->path().extension() == ".deb") m_deb = it->path();
    ASSERT_FALSE(m_deb.empty()) << "no package in " PACKAGE_DIR " (made by the test packaging_build_deb)";
  }

  const fs::path& Deb() { return m_deb; }

  fs::path m_deb;
};

// Every file where Debian wants it, the programs executable, root-owned, and nothing else: no
// key or certificate of the build's run directory, no test pages, no test tools.
TEST_F(PackageTest, FilesLieUnderTheirFhsFolders) {
  Result listing = Shell("dpkg-deb -c " + Quoted(Deb()));
  ASSERT_EQ(listing.status, 0) << listing.output;
  // Mode, owner, path of each entry that is not a folder.
  std::map<std::string, std::string> files;
  std::regex entry(R"(^(\S+)\s+(\S+)\s+\d+\s+\S+\s+\S+\s+\.(/\S+)$)");
  for (const auto& line : Lines(listing.output)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, entry)) << line;
    EXPECT_EQ(m[2].str(), "root/root") << line;
    if (m[1].str()[0] != 'd') files[m[3].str()] = m[1].str();
  }

  struct Expected {
    const char* path;
    const char* mode;
  };
  const Expected expected[] = {
      {"/usr/lib/nimbrel/nimbrelsvc", "-rwxr-xr-x"},
      {"/usr/lib/nimbrel/nimbrelwd", "-rwxr-xr-x"},
      {"/usr/lib/nimbrel/nimbrel-start", "-rwxr-xr-x"},
      {"/usr/lib/nimbrel/nimbrel-untrust", "-rwxr-xr-x"},
      {"/usr/lib/nimbrel/make-certs", "-rwxr-xr-x"},
      {"/usr/share/nimbrel/web/index.html", "-rw-r--r--"},
      {"/usr/share/nimbrel/web/nimbrel.js", "-rw-r--r--"},
      {"/etc/nimbrel/config.ini", "-rw-r--r--"},
      {"/etc/xdg/autostart/nimbrel.desktop", "-rw-r--r--"},
      {"/usr/share/doc/nimbrel/copyright", "-rw-r--r--"},
      {"/usr/share/doc/nimbrel/changelog.Debian.gz", "-rw-r--r--"},
      {"/usr/share/lintian/overrides/nimbrel", "-rw-r--r--"},
  };
  for (const auto& e : expected) {
    auto found = files.find(e.path);
    ASSERT_NE(found, files.end()) << e.path << "\n" << listing.output;
    EXPECT_EQ(found->second, e.mode) << e.path;
  }
  const std::regex allowed(R"(^/usr/lib/nimbrel/[^/]+$|^/usr/share/nimbrel/web/.+\.(html|js|mjs|css|json|png|svg|ico)$|)"
                           R"(^/usr/share/doc/nimbrel/[^/]+$|^/etc/nimbrel/config\.ini$|^/etc/xdg/autostart/nimbrel\.desktop$|)"
                           R"(^/usr/share/lintian/overrides/nimbrel$)");
  for (const auto& [path, mode] : files) {
    EXPECT_TRUE(std::regex_match(path, allowed)) << path;
    EXPECT_EQ(path.find("/test/"), std::string::npos) << path;
    EXPECT_FALSE(std::regex_search(path, std::regex(R"(\.(pem|key|crt)$|nimbrel-source|nimbrel-play)"))) << path;
  }
}

// Run dependencies come from the programs' libraries, plus the tools the scripts call; nothing
// of the build or the tests.
TEST_F(PackageTest, ControlNamesTheRunDependenciesOnly) {
  Result fields = Shell("dpkg-deb -f " + Quoted(Deb()) + " Package Architecture Depends");
  ASSERT_EQ(fields.status, 0) << fields.output;
  EXPECT_NE(fields.output.find("Package: nimbrel\n"), std::string::npos) << fields.output;
  for (const char* needed : {"libc6", "libssl3", "libavcodec", "libx11-6", "libnss3-tools", "openssl"})
    EXPECT_NE(fields.output.find(needed), std::string::npos) << needed << "\n" << fields.output;
  for (const char* unwanted : {"boost", "gtest", "googletest", "benchmark", "lintian", "-dev"})
    EXPECT_EQ(fields.output.find(unwanted), std::string::npos) << unwanted << "\n" << fields.output;
}

// The maintainer scripts parse, are executable, and the two files in /etc are conffiles; the
// launcher and the withdrawal script parse too.
TEST_F(PackageTest, ScriptsParseAndEtcFilesAreConffiles) {
  TempFolder folder;
  ASSERT_EQ(Shell("dpkg-deb -R " + Quoted(Deb()) + " " + Quoted(folder.Path())).status, 0);
  for (const char* script : {"DEBIAN/prerm", "DEBIAN/postrm", "usr/lib/nimbrel/nimbrel-start",
                             "usr/lib/nimbrel/nimbrel-untrust"}) {
    const fs::path path = folder.Path() / script;
    ASSERT_TRUE(fs::exists(path)) << script;
    EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none) << script;
    Result parsed = Shell("sh -n " + Quoted(path));
    EXPECT_EQ(parsed.status, 0) << script << ": " << parsed.output;
  }
  Result make = Shell("bash -n " + Quoted(folder.Path() / "usr/lib/nimbrel/make-certs"));
  EXPECT_EQ(make.status, 0) << make.output;
  std::ifstream conffiles(folder.Path() / "DEBIAN/conffiles");
  std::stringstream text;
  text << conffiles.rdbuf();
  EXPECT_EQ(text.str(), "/etc/nimbrel/config.ini\n/etc/xdg/autostart/nimbrel.desktop\n");
  // Unknown arguments fail, as Debian's policy asks; the ones that leave users alone succeed.
  EXPECT_NE(Shell("sh " + Quoted(folder.Path() / "DEBIAN/prerm") + " bogus").status, 0);
  EXPECT_EQ(Shell("sh " + Quoted(folder.Path() / "DEBIAN/prerm") + " upgrade 0.0.9").status, 0);
  EXPECT_EQ(Shell("sh " + Quoted(folder.Path() / "DEBIAN/postrm") + " remove").status, 0);
}

// Errors and warnings only where packaging/lintian-overrides justifies them.
TEST_F(PackageTest, LintianFindsNothingUnjustified) {
  if (!Have("lintian")) GTEST_SKIP() << "lintian missing";
  Result verdict = Shell("lintian --fail-on error,warning --no-tag-display-limit " + Quoted(Deb()));
  EXPECT_EQ(verdict.status, 0) << verdict.output;
}

// The withdrawal script against real NSS databases: every Nimbrel root goes from the shared
// database and each Firefox profile; other roots and folders that are not stores stay.
TEST(UntrustTest, WithdrawsNimbrelRootsOnly) {
  if (!Have("certutil") || !Have("openssl")) GTEST_SKIP() << "certutil or openssl missing";
  TempFolder home;
  const std::vector<fs::path> stores = {home.Path() / ".pki/nssdb", home.Path() / ".mozilla/firefox/x.default-esr",
                                        home.Path() / ".config/mozilla/firefox/y.default-esr"};
  fs::create_directories(home.Path() / ".mozilla/firefox/Crash Reports");
  // Two Nimbrel roots (one named twice) and a foreign one in every store.
  const std::vector<std::pair<std::string, std::string>> roots = {{"Nimbrel Local Root CA 20261209 a1", "a"},
                                                                  {"Nimbrel Local Root CA 20261209 a1", "b"},
                                                                  {"Nimbrel Local Root CA", "c"},
                                                                  {"Other Root", "d"}};
  for (const auto& [name, file] : roots) {
    const fs::path pem = home.Path() / (file + ".crt");
    ASSERT_EQ(Shell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout /dev/null -subj '/CN=" +
                  name + "' -out " + Quoted(pem) + " -addext basicConstraints=critical,CA:TRUE")
                  .status,
              0);
    for (const auto& store : stores) {
      fs::create_directories(store);
      Result added = Shell("certutil -A -d sql:" + Quoted(store) + " -t C,, -n '" + name + "' -i " + Quoted(pem));
      ASSERT_EQ(added.status, 0) << added.output;
    }
  }
  Result untrust = Shell("unset XDG_CONFIG_HOME; HOME=" + Quoted(home.Path()) + " sh " NIMBREL_SOURCE_DIR "/packaging/nimbrel-untrust");
  EXPECT_EQ(untrust.status, 0) << untrust.output;
  for (const auto& store : stores) {
    std::string left = Shell("certutil -L -d sql:" + Quoted(store)).output;
    EXPECT_EQ(left.find("Nimbrel"), std::string::npos) << store << "\n" << left;
    EXPECT_NE(left.find("Other Root"), std::string::npos) << store << "\n" << left;
  }
}

}  // namespace
