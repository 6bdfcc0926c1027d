#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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

TEST(HttpRequest, PathsTypesAndSafety) {
  struct Case {
    const char* request;
    const char* path;
    bool textMode;
    const char* type;
    bool safe;
  };
  const Case cases[] = {
      {"GET /index.html?v=3 HTTP/1.1", "/index.html", true, "text/html", true},
      {"GET /img/logo.png HTTP/1.1", "/img/logo.png", false, "image/png", true},
      {"GET /logo.PNG HTTP/1.1", "/logo.PNG", false, "text/plain", true},
      {"GET /app.json HTTP/1.1", "/app.json", true, "application/x-javascript", true},
      {"GET /s.css HTTP/1.1", "/s.css", true, "text/css", true},
      {"OPTIONS / HTTP/1.1", "ONS /", false, "text/plain", true},
      {"GET /../etc/passwd HTTP/1.1", "/../etc/passwd", false, "text/plain", false},
      {"GET /a/%2e%2E/%2E%2e/x.bmp HTTP/1.1", "/a/%2e%2E/%2E%2e/x.bmp", false, "image/bmp", false},
      {"GET /a\\..\\..\\x HTTP/1.1", "/a\\..\\..\\x", false, "text/plain", false},
      {"GET /a%5c..%5cx HTTP/1.1", "/a%5c..%5cx", false, "text/plain", false},
      {"GET /..a/b..c/.../x HTTP/1.1", "/..a/b..c/.../x", false, "text/plain", true},
      {"GET", "", false, "text/plain", true},
  };
  for (const Case& c : cases) {
    std::string path = GetRequestPath(std::string(c.request) + "\r\nHost: x\r\n\r\n");
    EXPECT_EQ(path, c.path) << c.request;
    std::size_t dot = path.rfind('.');
    FileType type = ChooseFileType("." + path, dot == std::string::npos ? "" : path.substr(dot + 1));
    EXPECT_EQ(type.textMode, c.textMode) << c.request;
    EXPECT_EQ(type.contentType, c.type) << c.request;
    EXPECT_EQ(IsSafeRequestPath(path), c.safe) << c.request;
  }
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
  // POST with no JSON at all is not an upload.
  EXPECT_NE(AnswerHttpRequest("POST / HTTP/1.1\r\n\r\n", m_services).find("Content-Length: 0"), std::string::npos);
  // Neither an upload, an upgrade nor HTTP: nothing is answered.
  EXPECT_EQ(AnswerHttpRequest("hello there\r\n\r\n", m_services), "");
}

}  // namespace
