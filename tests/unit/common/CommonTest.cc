#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "common/Base64.h"
#include "common/DirectoryPath.h"
#include "common/FileMd5.h"
#include "common/GuidText.h"
#include "common/IniFile.h"
#include "common/MySHA1.h"
#include "common/TextConv.h"
#include "common/TimeText.h"

namespace {

std::string Sha1Hex(const std::string& s) {
  MySHA1 sha;
  sha.Input(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  uint8_t d[20];
  EXPECT_TRUE(sha.Result(d));
  char hex[41];
  for (int i = 0; i < 20; ++i) std::snprintf(hex + i * 2, 3, "%02x", d[i]);
  return hex;
}

TEST(MySHA1Test, KnownDigests) {
  struct Case { std::string in, out; } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      // The WebSocket handshake example key + GUID.
      {"dGhlIHNhbXBsZSBub25jZQ==258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
       "b37a4f2cc0624f1690f64606cf385945b2bec4ea"},
  };
  for (const auto& c : cases) EXPECT_EQ(Sha1Hex(c.in), c.out) << c.in.substr(0, 20);
}

TEST(MySHA1Test, InputAfterResultCorrupts) {
  MySHA1 sha;
  sha.Input('a');
  uint8_t d[20];
  ASSERT_TRUE(sha.Result(d));
  sha.Input('b');
  EXPECT_TRUE(sha.Corrupted());
  EXPECT_FALSE(sha.Result(d));
  sha.Reset();
  EXPECT_FALSE(sha.Corrupted());
}

TEST(Base64Test, RoundTripAndRfcVectors) {
  const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},       {"fo", "Zm8="},
                              {"foo", "Zm9v"},  {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (auto& v : vectors) {
    EXPECT_EQ(Base64Encode(v[0]), v[1]);
    auto d = Base64Decode(v[1]);
    ASSERT_TRUE(d.has_value()) << v[1];
    EXPECT_EQ(std::string(d->begin(), d->end()), v[0]);
  }
}

TEST(Base64Test, DecodeSkipsLineBreaksAndRejectsGarbage) {
  auto d = Base64Decode("Zm9v\r\nYmFy\n");
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(std::string(d->begin(), d->end()), "foobar");
  for (const char* bad : {"Zm9", "Zm9v!", "Z===", "Zg==Zg==", "Zm 9v"}) EXPECT_FALSE(Base64Decode(bad)) << bad;
}

TEST(GuidTextTest, FormatAndUniqueness) {
  std::regex form(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})");
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string g = MakeGuidText();
    EXPECT_EQ(g.size(), 38u);
    EXPECT_TRUE(std::regex_match(g, form)) << g;
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(TimeTextTest, Formats) {
  CalendarTime t{2025, 3, 2, 9, 5, 3};
  EXPECT_EQ(FormatTimeText(t), "2025_03_02__09_05_03");
  EXPECT_EQ(FormatLogTime(CalendarTime{2024, 3, 5, 7, 8, 9}), "2024-03-05 07:08:09");
}

TEST(IniFileTest, ProfileStringSemantics) {
  auto dir = std::filesystem::temp_directory_path() / ("nimbrel_ini_" + MakeGuidText());
  std::filesystem::create_directories(dir);
  std::string path = (dir / "config.ini").string();
  std::ofstream(path) << "; comment\n[Port]\nServicePortStart = 9000 \n[info]\nVERSION=\"1.2.3\"\n"
                         "Long=abcdefghij\n[Empty]\nKey=\n";
  struct Case { const char *section, *key, *def; size_t len; std::string want; } cases[] = {
      {"Port", "ServicePortStart", "", 50, "9000"},
      {"port", "serviceportstart", "", 50, "9000"},
      {"Info", "Version", "", 50, "1.2.3"},
      {"Info", "Long", "", 5, "abcd"},
      {"Info", "Missing", "dflt", 50, "dflt"},
      {"Nope", "Version", "", 50, ""},
      {"Empty", "Key", "x", 50, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(GetProfileString(c.section, c.key, c.def, c.len, path), c.want) << c.key;
  EXPECT_EQ(GetProfileString("Port", "ServicePortStart", "7", 50, (dir / "none.ini").string()), "7");
  std::filesystem::remove_all(dir);
}

TEST(IniFileTest, AtoiSemantics) {
  struct Case { const char* in; int want; } cases[] = {
      {"9000", 9000}, {"  42abc", 42}, {"-17", -17}, {"+5", 5}, {"", 0}, {"abc", 0},
      {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}, {"\t7", 7}, {"- 3", 0}};
  for (const auto& c : cases) EXPECT_EQ(AtoiText(c.in), c.want) << c.in;
}

TEST(TextConvTest, RoundTrips) {
  std::string s = "Aufnahme \xC3\xA4 \xE6\x91\x84\xE5\x83\x8F \xF0\x9F\x8E\xA5";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s);
  EXPECT_EQ(WideToUtf8(Utf8ToWide(s)), s);
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x8E\xA5").size(), 2u);  // surrogate pair
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("a\xFF" "b")), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xE6\x91")), "\xEF\xBF\xBD\xEF\xBF\xBD");  // truncated
}

TEST(DirectoryPathTest, CreatesFoldersAlongPath) {
  auto dir = std::filesystem::temp_directory_path() / ("nimbrel_dir_" + MakeGuidText());
  std::string target = dir.string() + "/a\\b/c/file.jpg";
  EXPECT_EQ(MakeDirectoryPath(target), 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir.string() + "/a\\b/c"));
  EXPECT_EQ(MakeDirectoryPath("nofolder.jpg"), -1);
  std::ofstream(dir.string() + "/blocker") << "x";
  EXPECT_EQ(MakeDirectoryPath(dir.string() + "/blocker/sub/file"), -1);
  std::filesystem::remove_all(dir);
}

TEST(FileMd5Test, HashesWholeFile) {
  auto path = std::filesystem::temp_directory_path() / ("nimbrel_md5_" + MakeGuidText());
  std::ofstream(path, std::ios::binary) << "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(FileMd5Hex(path.string()).value_or(""), "9e107d9d372bb6826bd81d3542a419d6");
  std::filesystem::remove(path);
  EXPECT_FALSE(FileMd5Hex(path.string()).has_value());
}

}  // namespace
