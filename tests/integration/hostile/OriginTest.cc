// The optional origin allow-list against the real service: listed pages and local programs (no
// Origin header) get their session and upload; any other page gets 403 and a log line; without
// the key every origin is served as before.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "HostilePeers.h"

namespace {

namespace fs = std::filesystem;

const std::string kForbidden =
    "HTTP/1.1 403 Forbidden\r\nServer: Middleware service\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";

// The head of the answer to an upgrade request carrying `originLine` ("" for none).
std::string UpgradeHead(int port, const std::string& originLine) {
  WsClient client;
  if (!client.Connect(platform::net::Family::kIPv4, port, false)) return "";
  client.SendRaw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" + originLine +
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
  return client.ReadHttpHead();
}

struct OriginCase {
  std::string originLine;
  bool allowed;
};

void ExpectOrigins(ServiceProcess& service, const std::vector<OriginCase>& cases) {
  fs::path picture = fs::path(service.Dir()) / "pictures" / "p.png";
  for (const OriginCase& c : cases) {
    std::string head = UpgradeHead(service.Port(), c.originLine);
    if (c.allowed) {
      EXPECT_EQ(head.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u) << c.originLine << head;
    } else {
      EXPECT_EQ(head, kForbidden) << c.originLine;
    }
    fs::remove(picture);
    std::string header = c.originLine.empty() ? "" : "-H '" + c.originLine.substr(0, c.originLine.size() - 2) + "'";
    std::string answer = UploadPicture(service, picture.string(), header);
    EXPECT_EQ(EndsWith(answer, kUploadDone), c.allowed) << c.originLine << answer;
    EXPECT_EQ(answer == kForbidden, !c.allowed) << c.originLine << answer;
    EXPECT_EQ(fs::exists(picture), c.allowed) << c.originLine;
  }
}

TEST(OriginTest, AllowListRefusesOtherPages) {
  ServiceProcess service;
  std::ofstream(fs::path(service.Dir()) / "config.ini", std::ios::app)
      << "\n[Security]\nAllowedOrigins=https://nvr.example:8443 http://localhost:3000\n";
  ASSERT_TRUE(service.Start());
  EXPECT_TRUE(service.WaitForLine("AllowedOrigins: 2 origins"));
  ExpectOrigins(service, {{"", true},
                          {"Origin: https://nvr.example:8443\r\n", true},
                          {"Origin: HTTPS://NVR.EXAMPLE:8443\r\n", true},
                          {"Origin: http://localhost:3000\r\n", true},
                          {"Origin: https://evil.example\r\n", false},
                          {"Origin: https://nvr.example\r\n", false},
                          {"Origin: http://localhost:3001\r\n", false},
                          {"Origin: null\r\n", false}});
  EXPECT_TRUE(service.WaitForLine("Refused a WebSocket session from origin https://evil.example"));
  EXPECT_TRUE(service.WaitForLine("Refused a picture upload from origin null"));
  EXPECT_TRUE(ServiceAnswersPages(service.Port()));
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

TEST(OriginTest, EmptyListServesEveryOrigin) {
  ServiceProcess service;
  std::ofstream(fs::path(service.Dir()) / "config.ini", std::ios::app) << "\n[Security]\nAllowedOrigins=\n";
  ASSERT_TRUE(service.Start());
  ExpectOrigins(service, {{"", true}, {"Origin: https://evil.example\r\n", true}, {"Origin: null\r\n", true}});
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
