// URL forms, request lines and the client's framing, without sockets.
#include <gtest/gtest.h>

#include "service/media/WsFraming.h"
#include "service/media/WsHandshake.h"
#include "service/media/WsUrl.h"

using namespace easywsclient;

TEST(WsUrlTest, FormsInOrder) {
  struct Case {
    const char* url;
    bool ok;
    bool secure;
    const char* host;
    int port;
    const char* path;
  };
  const Case cases[] = {
      {"ws://127.0.0.1:8080/live/1?codec=h264", true, false, "127.0.0.1", 8080, "live/1?codec=h264"},
      {"ws://camera/stream", true, false, "camera", 80, "stream"},
      {"ws://camera:9000", true, false, "camera", 9000, ""},
      {"ws://camera", true, false, "camera", 80, ""},
      {"ws://camera:9000/", true, false, "camera", 9000, ""},
      {"wss://camera", true, true, "camera", 443, ""},
      {"wss://camera/a/b", true, true, "camera", 443, "a/b"},
      {"wss://10.0.0.2:7443/x", true, true, "10.0.0.2", 7443, "x"},
      {"ws://[::1]:8080/live?x=1", true, false, "::1", 8080, "live?x=1"},
      {"ws://[fe80::2]/p", true, false, "fe80::2", 80, "p"},
      {"ws://[::1]:81", true, false, "::1", 81, ""},
      {"wss://[::1]", true, true, "::1", 443, ""},
      {"http://camera/x", false, false, "", 0, ""},
      {"ws://", false, false, "", 0, ""},
      {"ws://camera:0/x", false, false, "", 0, ""},
      {"ws://camera:70000/x", false, false, "", 0, ""},
      // A host that would end the handshake's Host line and add a header.
      {"ws://cam\r\nX-Evil: 1/live", false, false, "", 0, ""},
      {"ws://[::1\n]:81/x", false, false, "", 0, ""},
      {"wss://cam era", false, false, "", 0, ""},
      {"ws://cam\x7f", false, false, "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    auto u = ParseWsUrl(c.url);
    ASSERT_EQ(u.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(u->secure, c.secure);
    EXPECT_EQ(u->host, c.host);
    EXPECT_EQ(u->port, c.port);
    EXPECT_EQ(u->path, c.path);
  }
  EXPECT_FALSE(ParseWsUrl("ws://h/" + std::string(kMaxUrlLength, 'a')));
}

TEST(WsHandshakeTest, RequestLines) {
  struct Case {
    WsUrl url;
    std::string origin;
    std::string text;
  };
  const std::string tail = "Upgrade: websocket\r\nConnection: Upgrade\r\n";
  const std::string key = "Sec-WebSocket-Key: Z5mQpR8sT2vW6yA1cE9gHk==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  const Case cases[] = {
      {{false, "cam", 80, "live"}, "", "GET /live HTTP/1.1\r\nHost: cam\r\n" + tail + key},
      {{true, "cam", 443, ""}, "", "GET / HTTP/1.1\r\nHost: cam:443\r\n" + tail + key},
      {{false, "::1", 9000, "x"}, "", "GET /x HTTP/1.1\r\nHost: [::1]:9000\r\n" + tail + key},
      {{false, "cam", 81, "p"}, "http://o", "GET /p HTTP/1.1\r\nHost: cam:81\r\n" + tail + "Origin: http://o\r\n" + key},
  };
  for (const Case& c : cases) {
    std::string text;
    for (const auto& line : BuildRequestLines(c.url, c.origin)) text += line;
    EXPECT_EQ(text, c.text);
  }
}

TEST(WsFramingTest, ClientFrameLengthsAndMask) {
  struct Case {
    size_t size;
    std::vector<uint8_t> header;
  };
  const Case cases[] = {
      {0, {0x82, 0x80}},
      {125, {0x82, 0xFD}},
      {126, {0x82, 0xFE, 0x00, 0x7E}},
      {65535, {0x82, 0xFE, 0xFF, 0xFF}},
      {65536, {0x82, 0xFF, 0, 0, 0, 0, 0, 0x01, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<uint8_t> payload(c.size);
    for (size_t i = 0; i < c.size; ++i) payload[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> out;
    AppendClientFrame(out, kOpBinary, payload.data(), payload.size());
    ASSERT_EQ(out.size(), c.header.size() + 4 + c.size);
    EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), out.begin()));
    const uint8_t* key = out.data() + c.header.size();
    EXPECT_TRUE(std::equal(key, key + 4, kMaskKey));
    for (size_t i = 0; i < c.size; ++i) ASSERT_EQ(out[c.header.size() + 4 + i] ^ kMaskKey[i & 3], payload[i]);
  }
}

namespace {
std::string Frame(uint8_t first, const std::string& payload, const uint8_t* key = nullptr) {
  std::string f;
  f.push_back(static_cast<char>(first));
  uint8_t maskBit = key ? 0x80 : 0;
  if (payload.size() < 126) {
    f.push_back(static_cast<char>(maskBit | payload.size()));
  } else {
    f.push_back(static_cast<char>(maskBit | 126));
    f.push_back(static_cast<char>(payload.size() >> 8));
    f.push_back(static_cast<char>(payload.size()));
  }
  std::string body = payload;
  if (key) {
    f.append(reinterpret_cast<const char*>(key), 4);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(body[i] ^ key[i & 3]);
  }
  return f + body;
}

struct Seen {
  WsEvent::Kind kind;
  uint8_t opcode;
  std::string payload;
  bool operator==(const Seen& o) const { return kind == o.kind && opcode == o.opcode && payload == o.payload; }
};

// Every message's storage goes back to the decoder, as the client's dispatch does: a later, shorter
// message must not show the bytes of an earlier one.
std::vector<Seen> Drain(WsFrameDecoder& d) {
  std::vector<Seen> out;
  for (WsEvent ev = d.Next(); ev.kind != WsEvent::kNone; ev = d.Next()) {
    out.push_back({ev.kind, ev.opcode, std::string(ev.payload.begin(), ev.payload.end())});
    if (ev.kind == WsEvent::kTooLarge) break;
    if (ev.kind == WsEvent::kMessage) d.Recycle(std::move(ev.payload));
  }
  return out;
}
}  // namespace

// A stream of server frames gives the same events however it is cut into reads.
TEST(WsFramingTest, DecoderAtEverySplitPoint) {
  const uint8_t key[4] = {1, 2, 3, 4};
  std::string big(300, 'b');
  std::string stream = Frame(0x81, "hello") +                       // text
                       Frame(0x02, "frag1-") + Frame(0x89, "p!") +  // fragment, ping between
                       Frame(0x00, "frag2-") + Frame(0x80, big) +   // continuation, final
                       Frame(0x82, "masked", key) +                 // a masking server is accepted
                       Frame(0x02, "s") + Frame(0x80, "t") +        // short, after a long one
                       Frame(0x8A, "") + Frame(0x88, "");           // pong, close
  const std::vector<Seen> expected = {
      {WsEvent::kMessage, kOpText, "hello"},
      {WsEvent::kPing, kOpPing, "p!"},
      {WsEvent::kMessage, kOpBinary, "frag1-frag2-" + big},
      {WsEvent::kMessage, kOpBinary, "masked"},
      {WsEvent::kMessage, kOpBinary, "st"},
      {WsEvent::kPong, kOpPong, ""},
      {WsEvent::kClose, kOpClose, ""},
  };
  auto bytes = reinterpret_cast<const uint8_t*>(stream.data());
  for (size_t split = 0; split <= stream.size(); ++split) {
    SCOPED_TRACE(split);
    WsFrameDecoder d;
    d.Feed(bytes, split);
    std::vector<Seen> seen = Drain(d);
    d.Feed(bytes + split, stream.size() - split);
    std::vector<Seen> rest = Drain(d);
    seen.insert(seen.end(), rest.begin(), rest.end());
    ASSERT_EQ(seen, expected);
    EXPECT_EQ(d.Buffered(), 0u);
  }
  WsFrameDecoder d;
  std::vector<Seen> seen;
  for (size_t i = 0; i < stream.size(); ++i) {
    d.Feed(bytes + i, 1);
    auto s = Drain(d);
    seen.insert(seen.end(), s.begin(), s.end());
  }
  EXPECT_EQ(seen, expected);
}

TEST(WsFramingTest, BadFramesFromPeer) {
  struct Case {
    const char* name;
    std::string bytes;
    WsEvent::Kind first;
  };
  std::string len63("\x82\x7F\x80\x00\x00\x00\x00\x00\x00\x00", 10);   // 2^63
  std::string len40("\x82\x7F\x00\x00\x01\x00\x00\x00\x00\x00", 10);   // 2^40
  std::string len33("\x82\x7F\x00\x00\x00\x01\x00\x00\x00\x00", 10);   // 2^32
  std::string justOver = "\x82\x7F" + std::string("\x00\x00\x00\x00", 4) +
                         std::string(1, static_cast<char>((kMaxMessageBytes + 1) >> 24)) +
                         std::string(1, static_cast<char>((kMaxMessageBytes + 1) >> 16)) +
                         std::string(1, static_cast<char>((kMaxMessageBytes + 1) >> 8)) +
                         std::string(1, static_cast<char>(kMaxMessageBytes + 1));
  const Case cases[] = {
      {"unexpected opcode", Frame(0x83, "x"), WsEvent::kUnexpected},
      {"length 2^63", len63, WsEvent::kTooLarge},
      {"length 2^40", len40, WsEvent::kTooLarge},
      {"length 2^32", len33, WsEvent::kTooLarge},
      {"just over the limit", justOver, WsEvent::kTooLarge},
      {"half a frame", Frame(0x82, std::string(200, 'x')).substr(0, 100), WsEvent::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WsFrameDecoder d;
    d.Feed(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
    EXPECT_EQ(d.Next().kind, c.first);
    // Nothing is ever delivered after a frame too large to follow.
    EXPECT_EQ(d.Next().kind, WsEvent::kNone);
  }
}

TEST(WsFramingTest, FragmentsBeyondTheLimitAreRefused) {
  const size_t chunk = 1 << 20;
  std::string header("\x02\x7F\x00\x00\x00\x00\x00\x10\x00\x00", 10);  // non-final, 1 MiB
  std::string body(chunk, 'z');
  WsFrameDecoder d;
  for (size_t sent = 0; sent + chunk <= kMaxMessageBytes; sent += chunk) {
    d.Feed(reinterpret_cast<const uint8_t*>(header.data()), header.size());
    d.Feed(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    ASSERT_EQ(d.Next().kind, WsEvent::kNone);
  }
  d.Feed(reinterpret_cast<const uint8_t*>(header.data()), header.size());
  EXPECT_EQ(d.Next().kind, WsEvent::kTooLarge);
}
