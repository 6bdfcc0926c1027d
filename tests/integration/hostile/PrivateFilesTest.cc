// Every private file of the run directory, and anything outside it, asked for over HTTP in every
// spelling a page can send: each is answered like a missing file. Folders and special files too,
// and the service stays up.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "HostilePeers.h"

namespace {

namespace fs = std::filesystem;

class PrivateFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_service = new ServiceProcess();
    fs::path dir = s_service->Dir();
    fs::create_directories(dir / "web" / "sub");
    fs::create_directories(dir / "web" / "folder.html");
    fs::create_directories(dir / "appdata");
    std::ofstream(dir / "web" / "index.html") << "<p>page</p>";
    std::ofstream(dir / "tmp2024_01_02__03_04_05.dmp") << "dump";
    std::ofstream(dir / "StartLog.log") << "log";
    std::ofstream(dir / "appdata" / "Nimbrel.json") << "{}";
    std::ofstream(dir.parent_path() / OutsideName()) << "outside";
    fs::create_symlink(dir / "config.ini", dir / "web" / "config.html");
    fs::create_symlink(dir / "certificates", dir / "web" / "keys");
    ASSERT_EQ(std::system(("mkfifo '" + (dir / "web" / "fifo.html").string() + "'").c_str()), 0);
    ASSERT_TRUE(s_service->Start());
  }
  static void TearDownTestSuite() {
    // A run directory that could not be laid out leaves no service, and the failure is reported.
    if (!s_service) return;
    fs::remove(fs::path(s_service->Dir()).parent_path() / OutsideName());
    EXPECT_EQ(s_service->StopAndTakeSanitizerReport(), "");
    delete s_service;
    s_service = nullptr;
  }
  static std::string OutsideName() { return "nimbrel_outside_" + std::to_string(s_service->Port()) + ".txt"; }
  static int Port() { return s_service->Port(); }

  static ServiceProcess* s_service;
};
ServiceProcess* PrivateFilesTest::s_service = nullptr;

std::string EncodeAll(const std::string& text) {
  std::string out;
  char hex[4];
  for (unsigned char c : text) {
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    out += hex;
  }
  return out;
}

std::string Replace(std::string text, char from, const std::string& to) {
  std::string out;
  for (char c : text) out += c == from ? to : std::string(1, c);
  return out;
}

TEST_F(PrivateFilesTest, PrivateFilesInEverySpellingAreMissing) {
  std::vector<std::string> privateFiles = {"certificates/server-key.pem", "certificates/server-cert.pem",
                                           "config.ini", "tmp2024_01_02__03_04_05.dmp", "StartLog.log",
                                           "nimbrelsvc", "appdata/Nimbrel.json", "../" + OutsideName()};
  if (fs::exists(s_service->Dir() + "/certificates/rootCA.key")) privateFiles.push_back("certificates/rootCA.key");
  for (const std::string& file : privateFiles) {
    ASSERT_TRUE(fs::exists(s_service->Dir() + "/" + file)) << file;
    const std::string spellings[] = {
        "/" + file,
        "./" + file,
        "/./" + file,
        "/" + EncodeAll(file),
        "/web/../" + file,
        "/web/./../" + file,
        "/web//../" + file,
        "/web/%2e%2e/" + file,
        "/web/%2E%2E%2F" + Replace(file, '/', "%2F"),
        "/web/..%5c" + Replace(file, '/', "%5c"),
        "/web/..\\" + Replace(file, '/', "\\"),
        "/web/" + EncodeAll("../" + file),
        "/web/" + file + "%00.html",
        "/web/" + file + "?.html",
    };
    for (const std::string& target : spellings) {
      std::string answer = GetTarget(Port(), target);
      EXPECT_TRUE(AnsweredAsMissing(answer)) << target << ":\n" << answer;
    }
  }
  // Links inside the web folder that lead out of it, or to a key, are not followed out.
  for (const char* target : {"/web/config.html", "/web/keys/server-key.pem", "/web/keys/server-cert.pem"}) {
    EXPECT_TRUE(AnsweredAsMissing(GetTarget(Port(), target))) << target;
  }
  // The page itself is still served, plain and over TLS.
  EXPECT_TRUE(EndsWith(GetTarget(Port(), "/web/index.html"), "Content-Length: 11\r\n\r\n<p>page</p>"));
  EXPECT_TRUE(EndsWith(Curl("-k https://127.0.0.1:" + std::to_string(Port() + 1) + "/web/%69ndex.html"),
                       "<p>page</p>"));
}

TEST_F(PrivateFilesTest, FoldersAndSpecialFilesAreMissingAndTheServiceStaysUp) {
  for (const char* target : {"/", "/web", "/web/", "/web/sub", "/web/sub/", "/web/folder.html", "/web/fifo.html",
                             "/web/keys", "/web/keys/", "/web/.", "/web/%2e/"}) {
    EXPECT_TRUE(AnsweredAsMissing(GetTarget(Port(), target))) << target;
    EXPECT_TRUE(ServiceAnswersPages(Port())) << "after " << target;
  }
  EXPECT_EQ(s_service->WaitExit(0), -1) << "the service ended";
}

}  // namespace
