// File names, path rules, the download trailer and progress.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "service/media/DownloadProgress.h"
#include "service/media/DownloadTrailer.h"
#include "service/media/MediaFiles.h"
#include "tests/support/TempFolder.h"

namespace {

StreamDescription Codecs(int video, int audio) {
  StreamDescription d{};
  d.videoCodec = static_cast<uint16_t>(video);
  d.audioCodec = static_cast<uint16_t>(audio);
  return d;
}

TEST(MediaFilesTest, PathRules) {
  struct Case {
    const char* path;
    const char* cleaned;
    const char* folder;
    bool acceptable;
  } cases[] = {
      // No drive letters on Linux: every ':' becomes '.'.
      {"/rec/12:30:05/a:b.mp4", "/rec/12.30.05/a.b.mp4", "/rec/12.30.05/", true},
      {"D:\\rec\\a.mp4", "D.\\rec\\a.mp4", "D.\\rec\\", false},  // not a full path here
      {"a.mp4", "a.mp4", "", false},
      {"rec/a.mp4", "rec/a.mp4", "rec/", false},
      {"/rec/../etc/a.mp4", "/rec/../etc/a.mp4", "/rec/../etc/", false},
      {"/rec/..\\a.mp4", "/rec/..\\a.mp4", "/rec/..\\", false},
      {"/rec/..", "/rec/..", "/rec/", false},
      {"/rec/", "/rec/", "/rec/", false},
      {"/rec/.", "/rec/.", "/rec/", false},
      {"/rec/..a/b..mp4", "/rec/..a/b..mp4", "/rec/..a/", true},
      {"/rec/./a.mp4", "/rec/./a.mp4", "/rec/./", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(CleanPathColons(c.path), c.cleaned);
    EXPECT_EQ(MediaFolderOf(CleanPathColons(c.path)), c.folder);
    EXPECT_EQ(IsAcceptableMediaPath(CleanPathColons(c.path)), c.acceptable);
  }
}

TEST(MediaFilesTest, NamesCarryCodecTagsAndAFreeCounter) {
  TempFolder dir;
  const std::string base = dir.File("rec");
  struct Case {
    std::string path;
    int video, audio;
    std::vector<std::string> existing;  // names already in the folder
    std::string expected;
  } cases[] = {
      {base + ".mp4", 96, 1, {}, base + "_H264_G711A.mp4"},
      {base + ".mp4", 96, 1, {"rec_H264_G711A.mp4"}, base + "_H264_G711A(2).mp4"},
      {base + ".mp4", 96, 1, {"rec_H264_G711A.mp4", "rec_H264_G711A(2).mp4"}, base + "_H264_G711A(3).mp4"},
      {base + ".avi", 150, 2, {}, base + "_H265_G711U.avi"},
      {base + ".mkv", 26, 21, {}, base + "_MJPEG_AAC.mkv"},
      // AAC named by its sample rate, MP2 and unknown codes carry no tag.
      {base + ".mp4", 96, 34, {}, base + "_H264.mp4"},
      {base + ".mp4", 0, 22, {}, base + ".mp4"},
      {base + ".a.b.ts", 96, 0, {}, base + ".a.b_H264.ts"},
      // No '.' in the name: tags and counter at its end, never inside a folder's name.
      {dir.File("f.d/clip"), 96, 1, {}, dir.File("f.d/clip_H264_G711A")},
      {dir.File("f.d/clip"), 96, 0, {"clip_H264"}, dir.File("f.d/clip_H264(2)")},
      // A dangling link takes the name like a file does.
      {base + ".ts", 96, 0, {"@rec_H264.ts"}, base + "_H264(2).ts"},
      // A name too long to look up has no free variant.
      {dir.File(std::string(300, 'n') + ".mp4"), 96, 0, {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    const std::string folder = MediaFolderOf(c.path);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (const auto& name : c.existing) {
      if (name[0] == '@') {
        std::filesystem::create_symlink(folder + "nowhere", folder + name.substr(1));
      } else {
        std::ofstream(folder + name) << "x";
      }
    }
    EXPECT_EQ(MakeMediaFileName(c.path, Codecs(c.video, c.audio)), c.expected);
  }
  // ... and says so at once rather than after 100000 look-ups (about half a second each time).
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) MakeMediaFileName(dir.File(std::string(300, 'n') + ".mp4"), Codecs(96, 0));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST(MediaFilesTest, TrailerCarriesTheMd5AtEveryThirdByte) {
  const std::string md5 = "0123456789abcdef0123456789abcdef";
  uint32_t state = 1;
  const auto trailer = BuildDownloadTrailer(md5, [&state] { return state = state * 1103515245u + 12345u; });
  EXPECT_EQ(std::string(trailer.data(), 6), "MIRVAN");
  EXPECT_EQ(TrailerMd5(trailer), md5);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(trailer[7 + 3 * i], md5[i]) << i;
  for (size_t i = 6; i < trailer.size(); ++i) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(trailer[i]))) << i;

  // Sealing appends exactly one trailer carrying the MD5 of the bytes before it.
  TempFolder dir;
  const std::string path = dir.File("d.bin");
  std::ofstream(path, std::ios::binary) << "download body";
  ASSERT_TRUE(SealDownload(path));
  std::ifstream in(path, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(all.size(), 13u + kDownloadTrailerSize);
  std::array<char, kDownloadTrailerSize> written;
  std::copy(all.begin() + 13, all.end(), written.begin());
  EXPECT_EQ(std::string(written.data(), 6), "MIRVAN");
  EXPECT_EQ(TrailerMd5(written), "2e31cf17cbfa01c16b0384ac561f22d4");  // md5sum of "download body"
  EXPECT_FALSE(SealDownload(dir.File("missing.bin")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing.bin")));
}

TEST(MediaFilesTest, ProgressNeverReaches100AndNeverDividesByZero) {
  struct WholeCase {
    uint64_t written;
    const char* total;
    int expected;
  } whole[] = {{0, "1000", 0},   {500, "1000", 50}, {999, "1000", 99}, {1000, "1000", 99}, {5000, "1000", 99},
               {10, "0", 0},     {10, "", 0},       {10, "abc", 0},    {10, "-5", 0},       {1, "3", 33},
               {10, " 20", 50}, {(1ull << 40), "2199023255552", 50}};
  for (const auto& c : whole) {
    SCOPED_TRACE(c.total);
    EXPECT_EQ(WholeFileProgress(c.written, c.total), c.expected);
  }
  struct FrameCase {
    uint32_t time;
    const char* start;
    const char* end;
    int expected;
  } frames[] = {{100, "100", "200", 0}, {150, "100", "200", 50}, {199, "100", "200", 99}, {200, "100", "200", 99},
                {50, "100", "200", 0},  {100, "100", "100", 99}, {300, "200", "100", 0},  {5, "x", "10", 50}};
  for (const auto& c : frames) {
    SCOPED_TRACE(std::to_string(c.time) + " " + c.start + ".." + c.end);
    EXPECT_EQ(FrameTimeProgress(c.time, c.start, c.end), c.expected);
  }
}

}  // namespace
