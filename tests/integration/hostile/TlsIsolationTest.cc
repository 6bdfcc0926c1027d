// TLS peers that break off, and a plain request on the TLS port, beside a healthy wss page: each
// connection's TLS errors stay its own.
#include <gtest/gtest.h>

#include <functional>

#include "HostileSupport.h"

namespace {

using platform::net::Family;

// A TCP connection to the TLS port, without TLS.
platform::net::SocketHandle RawConnect(int port) {
  std::string error;
  auto addresses = platform::net::Resolve("127.0.0.1", port, &error);
  return addresses.empty() ? platform::net::kInvalidSocket : platform::net::ConnectTo(addresses[0], 5000);
}

// Sends `bytes` raw, ends the stream and waits until the service has closed the connection;
// false when it did not within 10 s.
bool RawExchange(int port, const std::string& bytes) {
  platform::net::SocketHandle s = RawConnect(port);
  if (s == platform::net::kInvalidSocket) return false;
  platform::net::SetReceiveTimeout(s, 10000);
  // The service may refuse, and reset, before all is sent: only its close matters.
  platform::net::SendAll(s, bytes.data(), bytes.size(), 5000);
  platform::net::ShutdownWrite(s);
  char buffer[4096];
  platform::net::IoResult r{};
  do {
    r = platform::net::Recv(s, buffer, sizeof buffer);
  } while (r.status == platform::net::IoStatus::kOk);
  platform::net::CloseSocket(s);
  return r.status != platform::net::IoStatus::kWouldBlock;
}

TEST(TlsIsolation, BrokenPeersNeverCloseAHealthyWssPage) {
  ServiceProcess service;
  ASSERT_TRUE(service.Start());
  const int tlsPort = service.Port() + 1;
  std::unique_ptr<WsClient> healthy = OpenPage(tlsPort, true);
  ASSERT_TRUE(healthy);
  ASSERT_GE(RoundTripMs(*healthy, "before"), 0);

  struct Case {
    const char* name;
    std::function<void()> act;
  };
  const Case cases[] = {
      {"a wss page that vanishes without a TLS close",
       [&] {
         std::unique_ptr<WsClient> page = OpenPage(tlsPort, true);
         ASSERT_TRUE(page);
         ASSERT_GE(RoundTripMs(*page), 0);
         page->Close();  // frees the session and the socket: no close alert
       }},
      {"a wss page that vanishes right after its upgrade",
       [&] {
         std::unique_ptr<WsClient> page = OpenPage(tlsPort, true);
         ASSERT_TRUE(page);
         page->Close();
       }},
      {"a peer that vanishes in the middle of its handshake",
       [&] { EXPECT_TRUE(RawExchange(tlsPort, std::string("\x16\x03\x01\x00\x40", 5) + "not a client hello")); }},
      {"an http:// request sent to the TLS port",
       [&] { EXPECT_TRUE(RawExchange(tlsPort, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")); }},
  };
  for (const Case& c : cases) {
    c.act();
    // Two round trips: the read that ends each one finds nothing more, and must not be taken for
    // a failure.
    EXPECT_GE(RoundTripMs(*healthy, "a"), 0) << c.name;
    EXPECT_GE(RoundTripMs(*healthy, "b"), 0) << c.name;
  }
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
