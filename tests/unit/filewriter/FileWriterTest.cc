// The media file writer: never through a link, removes only what it made, and free space asked
// of the nearest existing folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/system/FileWriter.h"
#include "tests/support/TempFolder.h"

using platform::system::FileWriter;

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(FileWriterTest, ModesKeepOrReplaceAndRemoveOnlyWhatTheyMade) {
  TempFolder dir;
  const std::string path = dir.File("a.bin");
  struct Case {
    FileWriter::Mode mode;
    const char* before;  // nullptr: no file
    const char* after;   // after writing "new"
  } cases[] = {{FileWriter::Mode::kTruncate, "old bytes", "new"},
               {FileWriter::Mode::kAppend, "old", "oldnew"},
               {FileWriter::Mode::kKeep, "old bytes", "new bytes"},
               {FileWriter::Mode::kKeep, nullptr, "new"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.after);
    std::filesystem::remove(path);
    if (c.before != nullptr) std::ofstream(path, std::ios::binary) << c.before;
    auto file = FileWriter::Open(path, c.mode);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Created(), c.before == nullptr);
    ASSERT_TRUE(file->Write("new", 3));
    file.reset();
    EXPECT_EQ(Read(path), c.after);
  }

  // A file it made goes; one that was there stays.
  std::filesystem::remove(path);
  FileWriter::Open(path, FileWriter::Mode::kKeep)->CloseAndRemoveIfCreated();
  EXPECT_FALSE(std::filesystem::exists(path));
  std::ofstream(path) << "mine";
  FileWriter::Open(path, FileWriter::Mode::kKeep)->CloseAndRemoveIfCreated();
  EXPECT_EQ(Read(path), "mine");
}

TEST(FileWriterTest, NeverWritesThroughALinkOrIntoADevice) {
  TempFolder dir;
  const std::string target = dir.File("target");
  std::ofstream(target) << "target";
  const std::string link = dir.File("link.mp4");
  std::filesystem::create_symlink(target, link);
  const std::string dangling = dir.File("dangling.mp4");
  std::filesystem::create_symlink(dir.File("nowhere"), dangling);
  for (auto mode : {FileWriter::Mode::kTruncate, FileWriter::Mode::kAppend, FileWriter::Mode::kKeep}) {
    FileWriter::Failure failure = FileWriter::Failure::kNone;
    EXPECT_FALSE(FileWriter::Open(link, mode, &failure));
    EXPECT_EQ(failure, FileWriter::Failure::kLink);
    EXPECT_FALSE(FileWriter::Open(dangling, mode));
    EXPECT_FALSE(FileWriter::Open("/dev/null", mode));
  }
  EXPECT_EQ(Read(target), "target");
  EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));
}

TEST(FileWriterTest, FreeSpaceIsAskedOfTheNearestExistingFolder) {
  TempFolder dir;
  const auto here = platform::system::FreeBytesNear(dir.Path().string());
  const auto deep = platform::system::FreeBytesNear(dir.File("not/yet/made/clip.mp4"));
  ASSERT_TRUE(here && deep);
  const auto space = std::filesystem::space(dir.Path());
  // The same volume; other writers on the machine may move the figure a little.
  EXPECT_NEAR(static_cast<double>(*deep), static_cast<double>(space.available), 64.0 * (1 << 20));
  EXPECT_NEAR(static_cast<double>(*deep), static_cast<double>(*here), 64.0 * (1 << 20));
  EXPECT_FALSE(platform::system::FreeBytesNear("relative/clip.mp4"));
  EXPECT_FALSE(platform::system::FreeBytesNear(""));
}

}  // namespace
