// The real service on a free port, driven by real clients: our WebSocket client (plain and TLS,
// IPv4 and IPv6), curl and openssl s_client.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "ServiceProcess.h"
#include "WsClient.h"

namespace {

using platform::net::Family;

class HostServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_service = new ServiceProcess();
    ASSERT_TRUE(s_service->Start()) << "service did not start";
  }
  static void TearDownTestSuite() {
    // A run directory that could not be laid out leaves no service, and the failure is reported.
    if (!s_service) return;
    EXPECT_EQ(s_service->StopAndTakeSanitizerReport(), "");
    delete s_service;
    s_service = nullptr;
  }
  static int Port() { return s_service->Port(); }
  static std::string Curl(const std::string& args) {
    return RunCommand("curl -s -i --max-time 10 " + args + " 2>&1");
  }

  // A connected, upgraded client.
  static std::unique_ptr<WsClient> Page(Family family = Family::kIPv4, bool tls = false) {
    auto client = std::make_unique<WsClient>();
    if (!client->Connect(family, Port() + (tls ? 1 : 0), tls) || !client->Upgrade()) return nullptr;
    return client;
  }

  static ServiceProcess* s_service;
};
ServiceProcess* HostServiceTest::s_service = nullptr;

TEST_F(HostServiceTest, WebconnectOnEveryListener) {
  struct Case {
    const char* name;
    Family family;
    bool tls;
  };
  const Case cases[] = {{"ws IPv4", Family::kIPv4, false},
                        {"ws IPv6", Family::kIPv6, false},
                        {"wss IPv4", Family::kIPv4, true},
                        {"wss IPv6", Family::kIPv6, true}};
  for (const Case& c : cases) {
    auto page = Page(c.family, c.tls);
    ASSERT_TRUE(page) << c.name;
    ASSERT_TRUE(page->SendText(WebConnect("7")));
    std::optional<std::string> reply = page->ReadText();
    ASSERT_TRUE(reply) << c.name;
    std::string uuid = JsonString(*reply, "uuid");
    EXPECT_EQ(*reply, "{\"cmd\":\"webconnect\",\"data\":{\"errorCode\":0,\"version\":\"9.8.7\"},\"sequence\":\"7\","
                      "\"uuid\":\"" + uuid + "\"}")
        << c.name;
    ASSERT_EQ(uuid.size(), 38u) << c.name;
    EXPECT_EQ(uuid.front(), '{');
    // Every later reply of the connection carries the same id.
    ASSERT_TRUE(page->SendText(WebConnect("8")));
    reply = page->ReadText();
    ASSERT_TRUE(reply);
    EXPECT_EQ(JsonString(*reply, "uuid"), uuid) << c.name;
    EXPECT_EQ(JsonString(*reply, "sequence"), "8") << c.name;
  }
}

TEST_F(HostServiceTest, FramesInPiecesTogetherAndOutOfBand) {
  // Each case sends raw bytes after the upgrade and names the sequences of the replies expected.
  std::string two = WsClient::MaskedFrame(0x81, WebConnect("a")) + WsClient::MaskedFrame(0x81, WebConnect("b"));
  std::string big = WebConnect(std::string(70000, 's'));
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> sequences;
    bool bytewise;
  };
  const Case cases[] = {
      {"two frames in one write, in order", two, {"a", "b"}, false},
      {"split at every byte", WsClient::MaskedFrame(0x81, WebConnect("slow")), {"slow"}, true},
      {"64-bit length form", WsClient::MaskedFrame(0x81, big), {std::string(70000, 's')}, false},
      {"control frames, bad JSON and a non-final fragment get no reply",
       WsClient::MaskedFrame(0x89, "ping") + WsClient::MaskedFrame(0x8A, "") + WsClient::MaskedFrame(0x81, "{oops") +
           WsClient::MaskedFrame(0x01, WebConnect("frag")) + WsClient::MaskedFrame(0x81, "[1,2]") +
           WsClient::MaskedFrame(0x81, WebConnect("after")),
       {"after"},
       false},
      {"unmasked client frame", std::string("\x81") + static_cast<char>(WebConnect("plain").size()) + WebConnect("plain"),
       {"plain"},
       false},
  };
  for (const Case& c : cases) {
    auto page = Page();
    ASSERT_TRUE(page) << c.name;
    if (c.bytewise) {
      for (char b : c.bytes) ASSERT_TRUE(page->SendRaw(std::string(1, b)));
    } else {
      ASSERT_TRUE(page->SendRaw(c.bytes));
    }
    for (const std::string& sequence : c.sequences) {
      std::optional<std::string> reply = page->ReadText();
      ASSERT_TRUE(reply) << c.name;
      EXPECT_EQ(JsonString(*reply, "sequence"), sequence) << c.name;
    }
  }
}

TEST_F(HostServiceTest, OversizedFrameClosesOnlyThatConnection) {
  auto bystander = Page();
  ASSERT_TRUE(bystander);
  const std::string headers[] = {
      std::string("\x81\xFF\x00\x00\x00\x00\x00\x10\x00\x01", 10) + "mask",  // 1 MiB + 1
      std::string("\x81\xFF\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10) + "mask",  // absurd
  };
  for (const std::string& header : headers) {
    auto page = Page();
    ASSERT_TRUE(page);
    ASSERT_TRUE(page->SendRaw(header));
    EXPECT_TRUE(page->WaitClosed());
  }
  ASSERT_TRUE(bystander->SendText(WebConnect("still")));
  auto reply = bystander->ReadText();
  ASSERT_TRUE(reply);
  EXPECT_EQ(JsonString(*reply, "sequence"), "still");
}

TEST_F(HostServiceTest, SilentClientsDoNotHoldOthers) {
  // Connected, never speaking: a TLS client stuck before its handshake and a plain one before
  // its request.
  WsClient silentTls, silentPlain;
  std::string error;
  auto v4 = platform::net::Resolve("127.0.0.1", Port() + 1, &error);
  ASSERT_FALSE(v4.empty());
  platform::net::SocketHandle rawTls = platform::net::ConnectTo(v4[0], 5000);
  ASSERT_NE(rawTls, platform::net::kInvalidSocket);
  ASSERT_TRUE(silentPlain.Connect(Family::kIPv4, Port(), false));
  for (bool tls : {false, true}) {
    auto page = Page(Family::kIPv4, tls);
    ASSERT_TRUE(page);
    ASSERT_TRUE(page->SendText(WebConnect("busy")));
    ASSERT_TRUE(page->ReadText());
  }
  platform::net::CloseSocket(rawTls);
}

TEST_F(HostServiceTest, SlowUpgradeRequest) {
  WsClient page;
  ASSERT_TRUE(page.Connect(Family::kIPv6, Port(), false));
  std::string request =
      "GET / HTTP/1.1\r\nHost: [::1]\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
  for (char b : request) {
    ASSERT_TRUE(page.SendRaw(std::string(1, b)));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // pacing, not waiting
  }
  EXPECT_EQ(page.ReadHttpHead(),
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Accept:s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
}

TEST_F(HostServiceTest, TwoHundredConnections) {
  std::vector<std::unique_ptr<WsClient>> pages;
  for (int i = 0; i < 220; ++i) {
    pages.push_back(Page(i % 2 ? Family::kIPv6 : Family::kIPv4, i % 5 == 0));
    ASSERT_TRUE(pages.back()) << i;
  }
  for (std::size_t i = 0; i < pages.size(); ++i) ASSERT_TRUE(pages[i]->SendText(WebConnect(std::to_string(i))));
  std::set<std::string> ids;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    auto reply = pages[i]->ReadText();
    ASSERT_TRUE(reply) << i;
    EXPECT_EQ(JsonString(*reply, "sequence"), std::to_string(i));
    ids.insert(JsonString(*reply, "uuid"));
  }
  EXPECT_EQ(ids.size(), pages.size());
}

TEST_F(HostServiceTest, RepliesNeverReachANewerConnection) {
  for (int round = 0; round < 20; ++round) {
    {
      auto leaving = Page();
      ASSERT_TRUE(leaving);
      std::string burst;
      for (int i = 0; i < 40; ++i) burst += WsClient::MaskedFrame(0x81, WebConnect("old"));
      ASSERT_TRUE(leaving->SendRaw(burst));
    }
    auto fresh = Page();
    ASSERT_TRUE(fresh);
    ASSERT_TRUE(fresh->SendText(WebConnect("new")));
    auto reply = fresh->ReadText();
    ASSERT_TRUE(reply);
    ASSERT_EQ(JsonString(*reply, "sequence"), "new") << "round " << round;
  }
}

TEST_F(HostServiceTest, HttpFileAnswers) {
  std::filesystem::create_directories(s_service->Dir() + "/web");
  std::ofstream(s_service->Dir() + "/web/page.html", std::ios::binary) << "<p>\r\nhi</p>\r\n";
  std::ofstream(s_service->Dir() + "/page.html") << "outside the web folder";
  std::ofstream(s_service->Dir() + "/../nimbrel_outside.txt") << "secret";
  struct Case {
    std::string url;
    std::string type;
    std::string body;
  };
  const std::string base = "http://127.0.0.1:" + std::to_string(Port());
  const Case cases[] = {
      {base + "/web/page.html?v=3", "text/html", "<p>\nhi</p>\n"},
      {"-g 'http://[::1]:" + std::to_string(Port()) + "/web/page.html'", "text/html", "<p>\nhi</p>\n"},
      {base + "/web/missing.png", "image/png", ""},
      {base + "/page.html", "text/html", ""},
      {"--path-as-is " + base + "/web/../../nimbrel_outside.txt", "text/plain", ""},
      {"--path-as-is " + base + "/web/%2e%2e/%2e%2e/nimbrel_outside.txt", "text/plain", ""},
      {"--path-as-is '" + base + "/web/..\\..\\nimbrel_outside.txt'", "text/plain", ""},
      {"-X OPTIONS -H 'Access-Control-Request-Method: POST' " + base + "/", "text/plain", ""},
      {"-k https://127.0.0.1:" + std::to_string(Port() + 1) + "/web/page.html", "text/html", "<p>\nhi</p>\n"},
  };
  for (const Case& c : cases) {
    std::string answer = Curl(c.url);
    EXPECT_EQ(answer,
              "HTTP/1.1 200 OK\r\nServer: Middleware service\r\nConnection: close\r\nAccess-Control-Allow-Origin: *\r\n"
              "Access-Control-Allow-Private-Network: true\r\nCache-Control: max-age=86400\r\nContent-Type: " +
                  c.type + "\r\nContent-Length: " + std::to_string(c.body.size()) + "\r\n\r\n" + c.body)
        << c.url;
  }
  std::filesystem::remove(s_service->Dir() + "/../nimbrel_outside.txt");
}

TEST_F(HostServiceTest, PictureUpload) {
  std::string folder = s_service->Dir() + "/pictures/";
  struct Case {
    const char* name;
    std::string json;
    std::string answer;  // "" when the connection closes without one
    const char* written;
  };
  auto upload = [&](const std::string& name, const std::string& data) {
    return "{\"cmd\":\"downloadPicture\",\"data\":{\"fileName\":\"" + folder + name + "\",\"fileBase64\":\"" + data +
           "\"},\"sequence\":\"1\"}";
  };
  const std::string okBody = "{\"cmd\":\"downloadPicture\",\"data\":{\"errorCode\":0}}";
  const std::string refusedBody = "{\"cmd\":\"downloadPicture\",\"data\":{\"errorCode\":-1}}";
  const Case cases[] = {
      {"saved", upload("a.png", "data:image/png;base64,aGVsbG8="), okBody, "a.png"},
      {"climbs out", upload("../b.jpg", "data:image/png;base64,aGVsbG8="), refusedBody, nullptr},
      {"another command", "{\"cmd\":\"webconnect\",\"data\":{}}", "", nullptr},
      {"truncated JSON", "{\"cmd\":\"downloadPicture\",\"data\":{\"fileName", "", nullptr},
  };
  for (const Case& c : cases) {
    std::string jsonFile = s_service->Dir() + "/post.json";
    std::ofstream(jsonFile, std::ios::binary) << c.json;
    std::string answer = Curl("-X POST --data-binary @" + jsonFile + " http://127.0.0.1:" + std::to_string(Port()) + "/");
    if (c.answer.empty()) {
      EXPECT_EQ(answer.find("HTTP/1.1"), std::string::npos) << c.name << ": " << answer;
    } else {
      EXPECT_EQ(answer,
                "HTTP/1.1 200 OK\r\nServer: Middleware service\r\nConnection: close\r\nAccess-Control-Allow-Origin: *\r\n"
                "Access-Control-Allow-Private-Network: true\r\nCache-Control: max-age=86400\r\nContent-Length: " +
                    std::to_string(c.answer.size()) + "\r\n\r\n" + c.answer)
          << c.name;
    }
    if (c.written) EXPECT_EQ(s_service->ReadFile(std::string("pictures/") + c.written), "hello") << c.name;
  }
  EXPECT_FALSE(std::filesystem::exists(s_service->Dir() + "/b.jpg"));
  EXPECT_EQ(okBody.size(), 48u);
}

TEST_F(HostServiceTest, OpensslClientOnTheTlsListener) {
  for (const char* host : {"127.0.0.1", "[::1]"}) {
    // Input stays open until the answer is in, then s_client ends the session. The file goes
    // first: the waiting loop must not find the previous host's answer in it.
    std::string out = s_service->Dir() + "/sclient.txt";
    std::string command = "rm -f " + out + "; { printf 'GET /none.css HTTP/1.1\\r\\n\\r\\n'; for i in $(seq 600); do grep -q "
                          "'Content-Length' " + out + " 2>/dev/null && break; sleep 0.05; done; } | timeout 60 "
                          "openssl s_client -quiet -no_ign_eof -connect " + std::string(host) + ":" +
                          std::to_string(Port() + 1) + " > " + out + " 2>/dev/null; cat " + out;
    std::string answer = RunCommand(command);
    EXPECT_NE(answer.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << host << ": " << answer;
    EXPECT_NE(answer.find("Content-Type: text/css\r\nContent-Length: 0\r\n\r\n"), std::string::npos) << host;
  }
}

}  // namespace
