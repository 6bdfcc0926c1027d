// connectTo and _RealWebSocket against a scripted peer over loopback, plain and TLS.
#include <gtest/gtest.h>

#include <chrono>

#include "FakeWsServer.h"
#include "OutputCapture.h"
#include "service/media/RealWebSocket.h"

using namespace easywsclient;
using platform::net::Family;

namespace {
using Clock = std::chrono::steady_clock;

// Pumps and dispatches until `done` or the client closed; messages go to `got`.
bool PumpUntil(WebSocket& ws, std::vector<std::string>& got, const std::function<bool()>& done) {
  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!done() && Clock::now() < deadline) {
    ws.pumpIo(50);
    ws.dispatch([&](const std::string& m) { got.push_back(m); });
    if (ws.readyState() == WebSocket::CLOSED) break;
  }
  ws.dispatch([&](const std::string& m) { got.push_back(m); });
  return done();
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 31 + 7);
  return s;
}

const size_t kLengths[] = {125, 126, 65535, 65536};
}  // namespace

// Every transport: the request as written, then frames of each boundary length both ways.
TEST(WsClientTest, FramesBothWaysOverEachTransport) {
  struct Case {
    const char* name;
    bool tls;
    Family family;
  };
  const Case cases[] = {{"ws IPv4", false, Family::kIPv4}, {"ws IPv6", false, Family::kIPv6}, {"wss", true, Family::kIPv4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string request;
    std::vector<FakeWsPeer::Frame> received;
    FakeWsServer server(
        [&](FakeWsPeer& peer) {
          request = peer.ReadRequest();
          peer.Accept();
          for (size_t n : kLengths) peer.SendFrame(kOpBinary, Pattern(n));
          for (size_t i = 0; i < std::size(kLengths); ++i) {
            auto f = peer.ReadFrame();
            if (!f) return;
            received.push_back(*f);
          }
          peer.SendFrame(kOpClose, "");
          peer.ReadFrame();  // the client's close
          peer.WaitForEnd();
        },
        c.tls, c.family);
    auto ws = connectTo(server.Url("live?codec=h264"));
    ASSERT_TRUE(ws);
    EXPECT_EQ(ws->readyState(), WebSocket::OPEN);
    for (size_t n : kLengths) ws->sendBytes(Pattern(n));
    std::vector<std::string> got;
    PumpUntil(*ws, got, [&] { return ws->readyState() == WebSocket::CLOSED; });
    ASSERT_TRUE(server.WaitFinished(1));

    std::string host = c.family == Family::kIPv6 ? "[::1]" : "127.0.0.1";
    EXPECT_EQ(request, "GET /live?codec=h264 HTTP/1.1\r\nHost: " + host + ":" + std::to_string(server.Port()) +
                           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: Z5mQpR8sT2vW6yA1cE9gHk==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    ASSERT_EQ(got.size(), std::size(kLengths));
    ASSERT_EQ(received.size(), std::size(kLengths));
    for (size_t i = 0; i < std::size(kLengths); ++i) {
      EXPECT_EQ(got[i], Pattern(kLengths[i]));
      EXPECT_EQ(received[i].opcode, kOpBinary);
      EXPECT_TRUE(received[i].fin && received[i].masked);
      EXPECT_TRUE(std::equal(received[i].key, received[i].key + 4, kMaskKey));
      EXPECT_EQ(received[i].payload, Pattern(kLengths[i]));
    }
  }
}

// Fragments arrive once and whole; a ping between them is answered with the same payload; a
// close is answered with the client's fixed close frame.
TEST(WsClientTest, FragmentsPingAndClose) {
  std::optional<FakeWsPeer::Frame> pong, close;
  bool ended = false;
  FakeWsServer server([&](FakeWsPeer& peer) {
    peer.ReadRequest();
    peer.Accept();
    peer.SendFrame(kOpBinary, "one-", false);
    peer.SendFrame(kOpPing, "are you there");
    peer.SendFrame(kOpContinuation, "two-", false);
    peer.SendFrame(kOpContinuation, "three", true);
    pong = peer.ReadFrame();
    peer.SendFrame(kOpClose, "");
    close = peer.ReadFrame();
    ended = peer.WaitForEnd();
  });
  auto ws = connectTo(server.Url());
  ASSERT_TRUE(ws);
  std::vector<std::string> got;
  PumpUntil(*ws, got, [&] { return ws->readyState() == WebSocket::CLOSED; });
  ASSERT_TRUE(server.WaitFinished(1));
  EXPECT_EQ(got, std::vector<std::string>{"one-two-three"});
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->opcode, kOpPong);
  EXPECT_EQ(pong->payload, "are you there");
  ASSERT_TRUE(close);
  EXPECT_EQ(close->header, std::vector<uint8_t>(kCloseFrame, kCloseFrame + 6));
  EXPECT_TRUE(ended);
}

// A misbehaving peer never gets a message delivered and leaves the socket closed.
TEST(WsClientTest, BadFramesFromPeer) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* text;  // what the client reports
    bool closeFrame;   // the client says goodbye with its close frame
  };
  const Case cases[] = {
      {"unexpected opcode", ServerFrameHeader(0x3, 1) + "x", "ERROR: Got unexpected WebSocket message.\n", true},
      {"length 2^63", std::string("\x82\x7F\x80\0\0\0\0\0\0\0", 10), "ERROR: WebSocket frame too large.\n", false},
      {"vanishing mid-frame", ServerFrameHeader(kOpBinary, 5000) + std::string(1000, 'x'), "Connection closed!\n",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OutputCapture output;
    std::optional<FakeWsPeer::Frame> reply;
    FakeWsServer server([&](FakeWsPeer& peer) {
      peer.ReadRequest();
      peer.Accept();
      peer.SendRaw(c.bytes);
      if (c.closeFrame) {
        reply = peer.ReadFrame();
        peer.WaitForEnd();
      }
    });
    auto ws = connectTo(server.Url());
    ASSERT_TRUE(ws);
    std::vector<std::string> got;
    PumpUntil(*ws, got, [&] { return ws->readyState() == WebSocket::CLOSED; });
    ASSERT_TRUE(server.WaitFinished(1));
    EXPECT_EQ(ws->readyState(), WebSocket::CLOSED);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(output.Count(c.text), 1);
    if (c.closeFrame) {
      ASSERT_TRUE(reply);
      EXPECT_EQ(reply->opcode, kOpClose);
    }
  }
}

// Upgrade answers that are not a 101 fail the connection with the matching text.
TEST(WsClientTest, RefusedUpgrades) {
  struct Case {
    const char* name;
    std::string answer;
    std::string textPrefix;  // empty: fails silently
  };
  const Case cases[] = {
      {"bad status", "HTTP/1.1 403 Forbidden\r\n\r\n", "ERROR: Got bad status connecting to "},
      {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", "ERROR: Got bad status connecting to "},
      {"255-byte status line", std::string(255, 'A'), "ERROR: Got invalid status line connecting to: "},
      {"254 bytes then CRLF", "HTTP/1.1 403 " + std::string(239, 'A') + "\r\n\r\n",
       "ERROR: Got bad status connecting to "},
      {"endless header line", "HTTP/1.1 101 OK\r\n" + std::string(300, 'h'),
       "ERROR: Got invalid status line connecting to: "},
      {"closed while reading", "HTTP/1.1 10", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OutputCapture output;
    FakeWsServer server([&](FakeWsPeer& peer) {
      peer.ReadRequest();
      peer.SendRaw(c.answer);
    });
    auto ws = connectTo(server.Url());
    EXPECT_FALSE(ws);
    if (!c.textPrefix.empty()) {
      EXPECT_EQ(output.CountPrefix(c.textPrefix), 1);
    }
    ASSERT_TRUE(server.WaitFinished(1));
  }
}

TEST(WsClientTest, UnusableUrls) {
  OutputCapture output;
  EXPECT_FALSE(connectTo("http://127.0.0.1/x"));
  EXPECT_EQ(output.Count("ERROR: Could not parse WebSocket url: http://127.0.0.1/x\n"), 1);
  std::string longUrl = "ws://127.0.0.1/" + std::string(120, 'a');
  EXPECT_FALSE(connectTo(longUrl));
  EXPECT_EQ(output.Count("ERROR: url size limit exceeded: " + longUrl + "\n"), 1);
  EXPECT_FALSE(connectTo("ws://127.0.0.1:1/x", std::string(200, 'o')));
  EXPECT_EQ(output.CountPrefix("ERROR: origin size limit exceeded: "), 1);
}

// Once discarding, buffered and later messages are thrown away instead of delivered.
TEST(WsClientTest, DiscardDeliversNothing) {
  FakeWsServer server([&](FakeWsPeer& peer) {
    peer.ReadRequest();
    peer.Accept();
    peer.SendFrame(kOpText, "first");
    peer.SendFrame(kOpText, "second");
  });
  auto ws = connectReal(server.Url(), "");
  ASSERT_TRUE(ws);
  ws->setDiscard(true);
  std::vector<std::string> got;
  PumpUntil(*ws, got, [&] { return ws->readyState() == WebSocket::CLOSED; });
  ASSERT_TRUE(server.WaitFinished(1));
  EXPECT_EQ(ws->readyState(), WebSocket::CLOSED);
  EXPECT_TRUE(got.empty());
}
