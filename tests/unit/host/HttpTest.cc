#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/system/Folders.h"
#include "service/host/HttpAnswer.h"
#include "service/host/HttpRequest.h"

namespace {

namespace fs = std::filesystem;

const std::string kCommon =
    "HTTP/1.1 200 OK\r\nServer: Middleware service\r\nConnection: close\r\nAccess-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Private-Network: true\r\nCache-Control: max-age=86400\r\n";

TEST(HttpRequest, CompleteRequestLengthAtEverySplitPoint) {
  const std::string get = "GET /a.html HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string post = "POST / HTTP/1.1\r\ncontent-length: 5\r\n\r\n{\"a\"}";
  for (const std::string& whole : {get, post}) {
    for (std::size_t n = 0; n < whole.size(); ++n) {
      EXPECT_EQ(CompleteRequestLength(whole.substr(0, n)), 0u) << n;
    }
    EXPECT_EQ(CompleteRequestLength(whole), whole.size());
    EXPECT_EQ(CompleteRequestLength(whole + "\x81\x80"), whole.size()) << "frame bytes behind the request";
  }
}

TEST(HttpRequest, WebSocketKey) {
  std::string twentyLines;
  for (int i = 0; i < 19; ++i) twentyLines += "X-Filler: " + std::to_string(i) + "\r\n";
  struct Case {
    const char* name;
    std::string request;
    bool found;
    std::string key;
  };
  const Case cases[] = {
      {"plain", "GET / HTTP/1.1\r\nSec-WebSocket-Key: abc==\r\n\r\n", true, "abc=="},
      {"bare line feeds", "GET / HTTP/1.1\nSec-WebSocket-Key: k1\n\n", true, "k1"},
      {"case matters", "GET / HTTP/1.1\r\nsec-websocket-key: k\r\n\r\n", false, ""},
      {"no colon", "GET / HTTP/1.1\r\nSec-WebSocket-Key abc\r\n\r\n", false, ""},
      {"colon at the end", "GET / HTTP/1.1\r\nSec-WebSocket-Key:\r\n\r\n", false, ""},
      {"blank not checked", "GET / HTTP/1.1\r\nSec-WebSocket-Key:xabc\r\n\r\n", true, "abc"},
      {"on the twentieth line", "GET / HTTP/1.1\r\n" + twentyLines + "Sec-WebSocket-Key: late\r\n\r\n", false, ""},
      {"first of two", "GET / HTTP/1.1\r\nSec-WebSocket-Key: one\r\nSec-WebSocket-Key: two\r\n\r\n", true, "one"},
  };
  for (const Case& c : cases) {
    std::string key;
    EXPECT_EQ(GetWebSocketKey(c.request, key), c.found) << c.name;
    if (c.found) EXPECT_EQ(key, c.key) << c.name;
  }
  std::string nineteen = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 18; ++i) nineteen += "X: y\r\n";
  std::string key;
  EXPECT_TRUE(GetWebSocketKey(nineteen + "Sec-WebSocket-Key: edge\r\n\r\n", key));
  EXPECT_EQ(key, "edge");
}

TEST(HttpRequest, AcceptKeyOfTheSampleHandshake) {
  EXPECT_EQ(MakeAcceptKey("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  EXPECT_EQ(BuildUpgradeAnswer("dGhlIHNhbXBsZSBub25jZQ=="),
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Accept:s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
}

TEST(HttpRequest, PathsHeadersAndTypes) {
  struct Case {
    const char* request;
    const char* path;
    bool textMode;
    const char* type;
  };
  const Case cases[] = {
      {"GET /index.html?v=3 HTTP/1.1", "/index.html", true, "text/html"},
      {"GET /img/logo.png HTTP/1.1", "/img/logo.png", false, "image/png"},
      {"GET /logo.PNG HTTP/1.1", "/logo.PNG", false, "image/png"},
      {"GET /app.json HTTP/1.1", "/app.json", true, "application/json"},
      {"GET /m.mjs#x HTTP/1.1", "/m.mjs", true, "application/x-javascript"},
      {"GET /w.wasm HTTP/1.1", "/w.wasm", false, "application/wasm"},
      {"GET /s.css HTTP/1.1", "/s.css", true, "text/css"},
      {"OPTIONS / HTTP/1.1", "/", false, "text/plain"},
      {"GET /a.html.d/key.pem HTTP/1.1", "/a.html.d/key.pem", false, "text/plain"},
      {"GET", "", false, "text/plain"},
  };
  for (const Case& c : cases) {
    std::string path = GetRequestPath(std::string(c.request) + "\r\nHost: x\r\n\r\n");
    EXPECT_EQ(path, c.path) << c.request;
    FileType type = ChooseFileType(path);
    EXPECT_EQ(type.textMode, c.textMode) << c.request;
    EXPECT_EQ(type.contentType, c.type) << c.request;
  }
  const std::string request =
      "GET / HTTP/1.1\r\nHost: a\r\norigin:  https://x.example \r\nX: Origin: no\r\n\r\nOrigin: body";
  EXPECT_EQ(GetHeaderValue(request, "Origin"), std::optional<std::string>("https://x.example"));
  EXPECT_EQ(GetHeaderValue(request, "Host"), std::optional<std::string>("a"));
  EXPECT_EQ(GetHeaderValue("GET /Origin: x HTTP/1.1\r\n\r\n", "Origin"), std::nullopt);
}

TEST(HttpRequest, OnlyWebFilesBelowTheWebPrefix) {
  const struct {
    std::string path;
    std::optional<std::string> relative;
  } cases[] = {
      {"/web/index.html", "index.html"},
      {"/web/test/overlay.html", "test/overlay.html"},
      {"/web/a%20b.JS", "a b.JS"},
      {"/web/%69ndex.html", "index.html"},
      {"/web//./test/./x.css", "test/x.css"},
      {"/web/", std::nullopt},
      {"/web", std::nullopt},
      {"/", std::nullopt},
      {"/index.html", std::nullopt},
      {"./outside/secret.txt", std::nullopt},
      {"/WEB/index.html", std::nullopt},
      {"/web/test/", std::nullopt},
      {"/web/../config.ini", std::nullopt},
      {"/web/../certificates/rootCA.key", std::nullopt},
      {"/web/%2e%2e/x.html", std::nullopt},
      {"/web/%2E%2E%2Fx.html", std::nullopt},
      {"/web/a/..%2f..%2fx.html", std::nullopt},
      {"/web/..\\x.html", std::nullopt},
      {"/web/a%5cx.html", std::nullopt},
      {"/web/a.html%00.key", std::nullopt},
      {std::string("/web/a.html\0.x", 14), std::nullopt},
      {"/web/c:x.html", std::nullopt},
      {"/web/.git/config.txt", std::nullopt},
      {"/web/.hidden.html", std::nullopt},
      {"/web/server-key.pem", std::nullopt},
      {"/web/rootCA.key", std::nullopt},
      {"/web/config.ini", std::nullopt},
      {"/web/tmp2024.dmp", std::nullopt},
      {"/web/nimbrelsvc", std::nullopt},
      {"/web/Nimbrel.json.tmp", std::nullopt},
      {"/web/run.sh", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(WebRelativePath(c.path), c.relative) << c.path;
}

TEST(OriginAllowList, MatchesSchemeHostAndPort) {
  const struct {
    const char* text;
    std::optional<std::string> origin;
  } forms[] = {
      {"https://NVR.example:8443", "https://nvr.example:8443"},
      {"HTTPS://nvr.example:443", "https://nvr.example"},
      {"http://127.0.0.1:80/", "http://127.0.0.1"},
      {"http://[::1]:9000", "http://[::1]:9000"},
      {"https://a.example:08443", "https://a.example:8443"},
      {"null", std::nullopt},
      {"https://", std::nullopt},
      {"https://a.example:", std::nullopt},
      {"https://a.example:99999", std::nullopt},
      {"https://a.example/path", std::nullopt},
      {"https://user@a.example", std::nullopt},
      {"://a.example", std::nullopt},
  };
  for (const auto& f : forms) EXPECT_EQ(NormaliseOrigin(f.text), f.origin) << f.text;

  OriginAllowList list(" https://nvr.example:8443  http://localhost:3000,http://[::1] ");
  EXPECT_TRUE(list.InForce());
  EXPECT_EQ(list.Size(), 3u);
  const struct {
    std::optional<std::string> origin;
    bool allowed;
  } requests[] = {
      {std::nullopt, true},
      {"https://nvr.example:8443", true},
      {"https://NVR.Example:8443", true},
      {"http://localhost:3000", true},
      {"http://[::1]:80", true},
      {"https://nvr.example", false},
      {"http://nvr.example:8443", false},
      {"https://nvr.example:8443.evil.example", false},
      {"https://evil.example", false},
      {"null", false},
      {"", false},
  };
  for (const auto& r : requests) EXPECT_EQ(list.Allows(r.origin), r.allowed) << r.origin.value_or("(none)");

  EXPECT_FALSE(OriginAllowList("").InForce());
  EXPECT_TRUE(OriginAllowList(" \t").Allows(std::string("https://any.example")));
  // A list of nothing but typos allows no page rather than every page.
  OriginAllowList typo("nvr.example:8443");
  EXPECT_TRUE(typo.InForce());
  EXPECT_FALSE(typo.Allows(std::string("https://nvr.example:8443")));
  EXPECT_TRUE(typo.Allows(std::nullopt));
}

TEST(HttpRequest, PictureNames) {
  struct Case {
    const char* name;
    bool ok;
  };
  const Case cases[] = {{"/tmp/p/a.jpg", true},     {"C:\\pics\\a.JPEG", true}, {"/tmp/a.Png", true},
                        {"/tmp/a.bmp", true},       {"/tmp/a.gif", true},       {"/tmp/a.txt", false},
                        {"/tmp/a.jpg.sh", false},   {"/tmp/../a.jpg", false},   {"C:\\x\\..\\a.png", false},
                        {"/tmp/.jpg", false},       {"", false},                {"/tmp/a..jpg", true}};
  for (const Case& c : cases) EXPECT_EQ(IsPictureFileName(c.name), c.ok) << c.name;
  EXPECT_EQ(FolderOf("C:\\a\\b.jpg"), "C:\\a\\");
  EXPECT_EQ(FolderOf("/x/y/b.jpg"), "/x/y/");
  EXPECT_EQ(FolderOf("b.jpg"), "");
}

class HttpAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_old = fs::current_path();
    m_dir = fs::temp_directory_path() / ("nimbrel_http_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "run");
    fs::current_path(m_dir / "run");
    m_services.parseCommand = [this](const std::string& json, PictureUpload& upload) {
      m_lastJson = json;
      upload = m_upload;
      return m_parseResult;
    };
    m_services.openFolder = [this](const std::string& folder) { m_opened.push_back(folder); };
  }
  void TearDown() override {
    fs::current_path(m_old);
    fs::remove_all(m_dir);
  }
  std::string Post(const std::string& body) {
    return AnswerHttpRequest("POST / HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                             m_services);
  }

  fs::path m_old, m_dir;
  HttpServices m_services;
  PictureUpload m_upload;
  int m_parseResult = 0;
  std::string m_lastJson;
  std::vector<std::string> m_opened;
};

// The answer a missing file gets: nothing tells a refused file from an absent one.
std::string MissingAnswer(const std::string& type) {
  return kCommon + "Content-Type: " + type + "\r\nContent-Length: 0\r\n\r\n";
}

TEST_F(HttpAnswerTest, ServesOnlyWebFilesInsideTheWebRoot) {
  fs::create_directories("web/sub/folder.html");
  std::ofstream("web/index.html", std::ios::binary) << "<p>\r\nhi</p>";
  std::ofstream("web/sub/a.css") << "b{}";
  std::ofstream("web/key.pem") << "KEY";
  std::ofstream("config.ini") << "[Port]";
  std::ofstream(m_dir / "outside.html") << "outside";
  fs::create_symlink(m_dir / "outside.html", "web/out.html");
  fs::create_symlink(m_dir, "web/up");
  fs::create_symlink("index.html", "web/in.html");
  fs::create_symlink("key.pem", "web/key.html");
  ASSERT_EQ(std::system("mkfifo web/fifo.html"), 0);
  std::ofstream("web/locked.html") << "locked";
  fs::permissions("web/locked.html", fs::perms::none);
  bool lockedReadable = std::ifstream("web/locked.html").good();  // root reads anyway

  const struct {
    std::string path;
    std::string answer;
  } cases[] = {
      {"/web/index.html", kCommon + "Content-Type: text/html\r\nContent-Length: 10\r\n\r\n<p>\nhi</p>"},
      {"/web/%73ub/a.css?x=1", kCommon + "Content-Type: text/css\r\nContent-Length: 3\r\n\r\nb{}"},
      {"/web/in.html", kCommon + "Content-Type: text/html\r\nContent-Length: 10\r\n\r\n<p>\nhi</p>"},
      {"/web/missing.png", MissingAnswer("image/png")},
      {"/", MissingAnswer("text/plain")},
      {"/web/", MissingAnswer("text/plain")},
      {"/web/sub", MissingAnswer("text/plain")},
      {"/web/sub/folder.html", MissingAnswer("text/html")},
      {"/web/fifo.html", MissingAnswer("text/html")},
      {"/web/out.html", MissingAnswer("text/html")},
      {"/web/up/outside.html", MissingAnswer("text/html")},
      {"/web/key.html", MissingAnswer("text/html")},
      {"/web/key.pem", MissingAnswer("text/plain")},
      {"/config.ini", MissingAnswer("text/plain")},
      {"./config.ini", MissingAnswer("text/plain")},
      {"/web/../config.ini", MissingAnswer("text/plain")},
      {"/web/%2e%2e/outside.html", MissingAnswer("text/html")},
      {"./outside.html", MissingAnswer("text/html")},
      {"/web/locked.html", lockedReadable ? kCommon + "Content-Type: text/html\r\nContent-Length: 6\r\n\r\nlocked"
                                          : MissingAnswer("text/html")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AnswerHttpRequest("GET " + c.path + " HTTP/1.1\r\nHost: x\r\n\r\n", m_services), c.answer) << c.path;
  }
  // A web root given by a link is followed; what lies below it is judged from its real place.
  fs::create_symlink("web", "served");
  m_services.webRoot = "served";
  EXPECT_EQ(ResolveWebFile("/web/index.html", "served"), fs::canonical("web/index.html").string());
  EXPECT_EQ(ResolveWebFile("/web/out.html", "served"), std::nullopt);
  EXPECT_EQ(ResolveWebFile("/web/index.html", "absent"), std::nullopt);
}

TEST_F(HttpAnswerTest, LargeFilesAreAnsweredAsMissing) {
  fs::create_directories("web");
  std::ofstream("web/big.wasm", std::ios::binary) << std::string(kMaxServedFileBytes + 1, 'x');
  std::ofstream("web/fits.wasm", std::ios::binary) << std::string(kMaxServedFileBytes, 'x');
  EXPECT_EQ(AnswerHttpRequest("GET /web/big.wasm HTTP/1.1\r\n\r\n", m_services), MissingAnswer("application/wasm"));
  EXPECT_EQ(AnswerHttpRequest("GET /web/fits.wasm HTTP/1.1\r\n\r\n", m_services).size(),
            MissingAnswer("application/wasm").size() - 1 + std::to_string(kMaxServedFileBytes).size() +
                kMaxServedFileBytes);
}

TEST_F(HttpAnswerTest, PictureUpload) {
  const std::string ok = kCommon + "Content-Length: 48\r\n\r\n{\"cmd\":\"downloadPicture\",\"data\":{\"errorCode\":0}}";
  const std::string refused =
      kCommon + "Content-Length: 49\r\n\r\n{\"cmd\":\"downloadPicture\",\"data\":{\"errorCode\":-1}}";
  std::string folder = (m_dir / "pics" / "deep").string() + "/";
  struct Case {
    const char* name;
    int parseResult;
    PictureUpload upload;
    std::string answer;
    bool written;
  };
  const Case cases[] = {
      {"saved", 0, {"downloadPicture", folder + "a.png", "data:image/png;base64,aGVsbG8="}, ok, true},
      {"not a picture name", 0, {"downloadPicture", folder + "a.sh", "data:;base64,aGVsbG8="}, refused, false},
      {"dot-dot segment", 0, {"downloadPicture", folder + "../a.png", "data:;base64,aGVsbG8="}, refused, false},
      {"relative name", 0, {"downloadPicture", "pics/deep/a.png", "data:;base64,aGVsbG8="}, refused, false},
      {"drive name", 0, {"downloadPicture", "C:\\pics\\deep\\a.png", "data:;base64,aGVsbG8="}, refused, false},
      {"no base64 marker", 0, {"downloadPicture", folder + "a.png", "aGVsbG8="}, refused, false},
      {"short text", 0, {"downloadPicture", folder + "a.png", "b"}, refused, false},
      {"bad base64", 0, {"downloadPicture", folder + "a.png", "base64,a*b="}, refused, false},
      {"other command", 0, {"webconnect", folder + "a.png", "base64,aGVsbG8="}, "", false},
      {"does not parse", -1, {"", "", ""}, "", false},
  };
  for (const Case& c : cases) {
    fs::remove_all(m_dir / "pics");
    m_upload = c.upload;
    m_parseResult = c.parseResult;
    m_opened.clear();
    EXPECT_EQ(Post("{\"cmd\":\"x\"}"), c.answer) << c.name;
    EXPECT_EQ(m_lastJson, "{\"cmd\":\"x\"}") << c.name;
    EXPECT_EQ(fs::exists(folder + "a.png"), c.written) << c.name;
    EXPECT_EQ(m_opened.size(), c.written ? 1u : 0u) << c.name;
    // A refused name makes no folder, in the working directory or anywhere.
    EXPECT_EQ(fs::exists(m_dir / "pics"), c.written) << c.name;
    EXPECT_TRUE(fs::is_empty(m_dir / "run")) << c.name;
  }
}

TEST_F(HttpAnswerTest, PictureContentAndFailures) {
  std::string folder = (m_dir / "pics").string() + "/";
  m_upload = {"downloadPicture", folder + "b.jpg", "data:image/jpeg;base64,AAEC/w=="};
  ASSERT_NE(Post("{}"), "");
  std::ifstream in(folder + "b.jpg", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, std::string("\x00\x01\x02\xff", 4));
  EXPECT_EQ(m_opened, std::vector<std::string>{folder});

  // The folder exists as a file: nothing can be made, the connection just closes.
  std::ofstream(m_dir / "blocker") << "x";
  m_upload.fileName = (m_dir / "blocker" / "sub" / "c.jpg").string();
  EXPECT_EQ(Post("{}"), "");
  // A name that is a folder cannot be written: the page hears of it.
  fs::create_directories(folder + "d.png");
  m_upload.fileName = folder + "d.png";
  EXPECT_NE(Post("{}").find("\"errorCode\":-1"), std::string::npos);
  // Never through a link, nor into a special file: the file behind stays as it was.
  std::ofstream(m_dir / "victim.txt") << "keep";
  fs::create_symlink(m_dir / "victim.txt", folder + "link.png");
  fs::create_symlink(m_dir / "none.txt", folder + "dangling.png");
  ASSERT_EQ(std::system(("mkfifo '" + folder + "fifo.png'").c_str()), 0);
  for (const char* name : {"link.png", "dangling.png", "fifo.png"}) {
    m_upload.fileName = folder + name;
    EXPECT_NE(Post("{}").find("\"errorCode\":-1"), std::string::npos) << name;
  }
  EXPECT_EQ(std::ifstream(m_dir / "victim.txt").rdbuf()->sgetc(), 'k');
  EXPECT_FALSE(fs::exists(m_dir / "none.txt"));
  // POST with no JSON at all is not an upload.
  EXPECT_NE(AnswerHttpRequest("POST / HTTP/1.1\r\n\r\n", m_services).find("Content-Length: 0"), std::string::npos);
  // Neither an upload, an upgrade nor HTTP: nothing is answered.
  EXPECT_EQ(AnswerHttpRequest("hello there\r\n\r\n", m_services), "");
}

}  // namespace
