#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/host/FrameReader.h"
#include "service/host/WsFrame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A client frame: masked unless key is empty.
Bytes ClientFrame(std::uint8_t first, const std::string& payload, const Bytes& key = {1, 2, 3, 4},
                  int forceCode = -1) {
  Bytes f{first};
  std::uint8_t mask = key.empty() ? 0 : 0x80;
  std::uint64_t n = payload.size();
  int code = forceCode >= 0 ? forceCode : (n < 126 ? static_cast<int>(n) : n <= 65535 ? 126 : 127);
  f.push_back(static_cast<std::uint8_t>(mask | code));
  if (code == 126) {
    f.push_back(static_cast<std::uint8_t>(n >> 8));
    f.push_back(static_cast<std::uint8_t>(n));
  } else if (code == 127) {
    for (int s = 56; s >= 0; s -= 8) f.push_back(static_cast<std::uint8_t>(n >> s));
  }
  f.insert(f.end(), key.begin(), key.end());
  for (std::size_t i = 0; i < payload.size(); ++i) {
    f.push_back(static_cast<std::uint8_t>(payload[i] ^ (key.empty() ? 0 : key[i % 4])));
  }
  return f;
}

TEST(ParseFrame, TakesEveryFrameKind) {
  struct Case {
    const char* name;
    Bytes frame;
    std::int64_t used;
    std::string text;
  };
  const Case cases[] = {
      {"masked text", ClientFrame(0x81, "abc"), 9, "abc"},
      {"unmasked text", ClientFrame(0x81, "abc", {}), 5, "abc"},
      {"binary is text up to its first zero", ClientFrame(0x82, std::string("ab\0cd", 5)), 11, "ab"},
      {"non-final fragment delivers nothing", ClientFrame(0x01, "abc"), 9, ""},
      {"final continuation delivers itself", ClientFrame(0x80, "end"), 9, "end"},
      {"close frame", ClientFrame(0x88, "\x03\xe8"), 8, ""},
      {"ping", ClientFrame(0x89, "hi"), 8, ""},
      {"reserved bits ignored", ClientFrame(0xF1, "x"), 7, "x"},
      {"empty text", ClientFrame(0x81, ""), 6, ""},
      {"16-bit length", ClientFrame(0x81, std::string(300, 'q')), 8 + 300, std::string(300, 'q')},
      {"64-bit length", ClientFrame(0x81, std::string(70000, 'z')), 14 + 70000, std::string(70000, 'z')},
      {"small length in the 16-bit form", ClientFrame(0x81, "abc", {1, 2, 3, 4}, 126), 11, "abc"},
  };
  for (const Case& c : cases) {
    Bytes frame = c.frame;
    std::string text = "stale";
    EXPECT_EQ(ParseFrame(frame.data(), text, frame.size()), c.used) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
  }
}

TEST(ParseFrame, EveryPrefixIsIncomplete) {
  for (const Bytes& whole : {ClientFrame(0x81, "abc"), ClientFrame(0x81, std::string(300, 'q')),
                             ClientFrame(0x81, std::string(70000, 'z')), ClientFrame(0x88, "\x03\xe8")}) {
    for (std::size_t n = 0; n < whole.size(); ++n) {
      Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
      std::string text;
      EXPECT_EQ(ParseFrame(part.data(), text, n), -1) << "prefix " << n << " of " << whole.size();
    }
  }
}

TEST(ParseFrame, HugeAnnouncedLengthNeverOverreads) {
  Bytes f{0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 'a'};
  std::string text;
  EXPECT_EQ(ParseFrame(f.data(), text, f.size()), -1);
  EXPECT_EQ(AnnouncedFrameSize(f.data(), f.size()), UINT64_MAX);
  EXPECT_EQ(AnnouncedFrameSize(f.data(), 3), 0u);
}

TEST(BuildTextFrame, UsesEveryLengthForm) {
  struct Case {
    std::size_t n;
    Bytes header;
  };
  const Case cases[] = {
      {0, {0x81, 0x00}},
      {125, {0x81, 0x7D}},
      {126, {0x81, 0x7E, 0x00, 0x7E}},
      {65535, {0x81, 0x7E, 0xFF, 0xFF}},
      {65536, {0x81, 0x7F, 0, 0, 0, 0, 0, 0x01, 0, 0}},
  };
  for (const Case& c : cases) {
    std::string text(c.n, 'x');
    std::string frame = BuildTextFrame(text);
    ASSERT_EQ(frame.size(), c.header.size() + c.n) << c.n;
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(c.header.size())), c.header) << c.n;
    // What we send, we read back.
    Bytes bytes(frame.begin(), frame.end());
    std::string back;
    EXPECT_EQ(ParseFrame(bytes.data(), back, bytes.size()), static_cast<std::int64_t>(frame.size()));
    EXPECT_EQ(back, text);
  }
}

TEST(FrameReader, SameMessagesAtEverySplitPoint) {
  Bytes stream;
  const std::vector<std::string> sent = {"{\"cmd\":\"webconnect\"}", std::string(200, 'b'), "", "last"};
  for (const std::string& s : sent) {
    Bytes f = ClientFrame(0x81, s);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  Bytes ping = ClientFrame(0x89, "p");
  stream.insert(stream.end(), ping.begin(), ping.end());
  std::vector<std::string> expected = sent;
  expected.push_back("");
  for (std::size_t a = 0; a <= stream.size(); ++a) {
    for (std::size_t b = a; b <= stream.size(); b += 7) {
      FrameReader reader;
      std::vector<std::string> got;
      ASSERT_TRUE(reader.Feed(stream.data(), a, got));
      ASSERT_TRUE(reader.Feed(stream.data() + a, b - a, got));
      ASSERT_TRUE(reader.Feed(stream.data() + b, stream.size() - b, got));
      ASSERT_EQ(got, expected) << "split at " << a << " and " << b;
      EXPECT_EQ(reader.Buffered(), 0u);
    }
  }
}

// A page closing its WebSocket ends the connection: the texts before the close frame still count,
// nothing after it does, and the close is seen only once the frame is whole.
TEST(FrameReader, StopsAtACloseFrameAtEverySplitPoint) {
  Bytes stream = ClientFrame(0x81, "before");
  Bytes close = ClientFrame(0x88, std::string("\x03\xE9", 2));  // status 1001, going away
  stream.insert(stream.end(), close.begin(), close.end());
  const std::size_t closeEnd = stream.size();
  Bytes after = ClientFrame(0x81, "after");
  stream.insert(stream.end(), after.begin(), after.end());
  for (std::size_t a = 0; a <= stream.size(); ++a) {
    FrameReader reader;
    std::vector<std::string> got;
    ASSERT_TRUE(reader.Feed(stream.data(), a, got));
    EXPECT_EQ(reader.CloseSeen(), a >= closeEnd) << "split at " << a;
    ASSERT_TRUE(reader.Feed(stream.data() + a, stream.size() - a, got));
    EXPECT_TRUE(reader.CloseSeen()) << "split at " << a;
    EXPECT_EQ(got, std::vector<std::string>{"before"}) << "split at " << a;
    EXPECT_EQ(reader.Buffered(), 0u);
  }
}

TEST(FrameReader, RefusesFramesBeyondTheLimit) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool accepted;
  };
  const Case cases[] = {
      {"exactly the limit", ClientFrame(0x81, std::string(1000 - 8, 'a')), true},
      {"one byte more", ClientFrame(0x81, std::string(1000 - 7, 'a')), false},
      {"header alone announcing more", Bytes{0x81, 0x7F, 0, 0, 0, 0, 0, 0, 0x10, 0}, false},
      {"64-bit length near the top", Bytes{0x81, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}, false},
  };
  for (const Case& c : cases) {
    FrameReader reader(1000);
    std::vector<std::string> got;
    EXPECT_EQ(reader.Feed(c.bytes.data(), c.bytes.size(), got), c.accepted) << c.name;
  }
}

}  // namespace
