// An answered HTTP request ends its connection once the answer is out; only an upgrade makes a
// page session.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "HostileSupport.h"

namespace {

// Content-Length of an answer head, -1 without one.
long ContentLength(const std::string& head) {
  const std::string marker = "Content-Length: ";
  std::size_t at = head.find(marker);
  return at == std::string::npos ? -1 : std::stol(head.substr(at + marker.size()));
}

TEST(AnsweredRequest, ClosesOnceTheAnswerIsOut) {
  ServiceProcess service;
  ASSERT_TRUE(service.Start());
  std::filesystem::create_directories(service.Dir() + "/web");
  const std::string style(300000, 'c');
  std::ofstream(service.Dir() + "/web/style.css", std::ios::binary) << style;
  struct Case {
    const char* name;
    bool tls;
    std::string request;
    bool answered;  // false: the service may close without an answer
  };
  const std::string get = "GET /web/style.css HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const Case cases[] = {
      {"plain GET", false, get, true},
      {"GET over TLS", true, get, true},
      // Closing with these unread would reset the connection and could destroy the answer.
      {"GET with bytes behind it", false, get + std::string(100000, 'x'), true},
      {"GET with bytes behind it over TLS", true, get + std::string(100000, 'x'), true},
      {"OPTIONS preflight", false, "OPTIONS / HTTP/1.1\r\nAccess-Control-Request-Method: POST\r\n\r\n", true},
      {"a folder", false, "GET /web/ HTTP/1.1\r\n\r\n", false},
      {"the working folder", true, "GET / HTTP/1.1\r\n\r\n", false},
  };
  for (const Case& c : cases) {
    WsClient client;
    ASSERT_TRUE(client.Connect(platform::net::Family::kIPv4, service.Port() + (c.tls ? 1 : 0), c.tls, 5000))
        << c.name;
    ASSERT_TRUE(client.SendRaw(c.request)) << c.name;
    std::string head = client.ReadHttpHead();
    if (c.answered || !head.empty()) {
      ASSERT_EQ(head.rfind("HTTP/1.1 ", 0), 0u) << c.name << ": " << head;
      EXPECT_NE(head.find("Connection: close\r\n"), std::string::npos) << c.name;
      long length = ContentLength(head);
      ASSERT_GE(length, 0) << c.name;
      std::string body;
      ASSERT_TRUE(client.ReadExact(body, static_cast<std::size_t>(length))) << c.name;
      if (c.request.rfind(get, 0) == 0) {
        EXPECT_EQ(body, style) << c.name;
      }
    }
    EXPECT_TRUE(client.WaitClosed()) << c.name;
  }
  // The service went on through all of them.
  EXPECT_TRUE(Answers(service.Port(), false));
  EXPECT_TRUE(Answers(service.Port() + 1, true));
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
