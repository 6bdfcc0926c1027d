#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "service/settings/LocalSettings.h"
#include "tests/support/TempFolder.h"

namespace {

class LocalSettingsTest : public ::testing::Test {
 protected:
  std::string FilePath() const { return m_temp.File("Nimbrel.json"); }
  void WriteFile(const std::string& text) { std::ofstream(FilePath(), std::ios::binary) << text; }
  std::string ReadFile() const {
    std::ifstream in(FilePath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  LocalSettings Settings() const { return LocalSettings(m_folder.string(), "/home/u", '/'); }

  TempFolder m_temp;
  const std::filesystem::path& m_folder = m_temp.Path();
};

const char kNvrEntry[] =
    R"({"recordFilePath":"/r","downloadFilePath":"undefined","captureLivePath":"","capturePlaybackPath":"/p","clipsPlaybackPath":"/c"})";

TEST_F(LocalSettingsTest, StoredFoldersWithDefaultsForUnusableValues) {
  WriteFile(std::string(R"({"NVR":)") + kNvrEntry + R"(,"P2P":{"savePath":""},"IPC":5})");
  LocalFolders nvr = Settings().Folders("NVR");
  EXPECT_EQ(nvr.recordFilePath, "/r");
  EXPECT_EQ(nvr.downloadFilePath, "/home/u/NVR/DownloadFiles");
  EXPECT_EQ(nvr.captureLivePath, "/home/u/NVR/Capture");
  EXPECT_EQ(nvr.capturePlaybackPath, "/p");
  EXPECT_EQ(nvr.clipsPlaybackPath, "/c");
  EXPECT_TRUE(nvr.savePath.empty());
  // A stored empty save path is answered as it is: no savePath, five empty folders.
  LocalFolders p2p = Settings().Folders("P2P");
  EXPECT_TRUE(p2p.savePath.empty());
  EXPECT_TRUE(p2p.recordFilePath.empty());
  // An entry that is not an object gives the defaults.
  EXPECT_EQ(Settings().Folders("IPC").clipsPlaybackPath, "/home/u/IPC/PlaybackFiles");
}

TEST_F(LocalSettingsTest, DefaultsFollowThePlatformRootAndSeparator) {
  LocalSettings windows(m_folder.string(), "C:", '\\');
  EXPECT_EQ(windows.Folders("NVR").recordFilePath, "C:\\NVR\\Record");
  EXPECT_EQ(windows.Folders("NVR").capturePlaybackPath, "C:\\NVR\\PlaybackPics");
  EXPECT_EQ(windows.Folders("P2P").savePath, "C:");
  for (const char* damaged : {"", "{", "[1,2]", "null"}) {
    WriteFile(damaged);
    EXPECT_EQ(Settings().Folders("NVR").downloadFilePath, "/home/u/NVR/DownloadFiles") << damaged;
  }
}

TEST_F(LocalSettingsTest, SaveReplacesADamagedFileAndKeepsUndefined) {
  WriteFile("{not json");
  std::string request = std::string(R"({"cmd":"setLocalConfig","data":{"deviceType":"NVR","localConfig":)") +
                        kNvrEntry + "}}";
  EXPECT_EQ(Settings().SaveDevice(request), 0);
  EXPECT_EQ(ReadFile(), std::string(R"({"NVR":)") + kNvrEntry + "}");
  EXPECT_FALSE(std::filesystem::exists(FilePath() + ".tmp"));
}

TEST_F(LocalSettingsTest, SaveReplacesEveryEntryOfTheType) {
  WriteFile(R"({"P2P":{"savePath":"/old1"},"X":{"savePath":"/x"},"P2P":{"savePath":"/old2"}})");
  EXPECT_EQ(Settings().SaveDevice(R"({"data":{"deviceType":"P2P","localConfig":{"savePath":"/new"}}})"), 0);
  EXPECT_EQ(ReadFile(), R"({"X":{"savePath":"/x"},"P2P":{"savePath":"/new"}})");
  EXPECT_EQ(Settings().Folders("P2P").savePath, "/new");
  // A type holding a NUL is its own type, not the one its first part names ("X" above).
  const std::string folders = R"({"recordFilePath":"/nul","downloadFilePath":"/nul","captureLivePath":"/nul",)"
                              R"("capturePlaybackPath":"/nul","clipsPlaybackPath":"/nul"})";
  EXPECT_EQ(Settings().SaveDevice(R"({"data":{"deviceType":"X\u0000y","localConfig":)" + folders + "}}"), 0);
  EXPECT_EQ(Settings().Folders(std::string("X\0y", 3)).recordFilePath, "/nul");
  EXPECT_EQ(Settings().Folders("X").recordFilePath, "/home/u/X/Record");
  EXPECT_EQ(Settings().Folders("P2P").savePath, "/new");
}

TEST_F(LocalSettingsTest, FileStaysBoundedWhateverPagesSend) {
  // 400 KiB per device type.
  const std::string folder = "\"" + std::string(80 * 1024, 'f') + "\"";
  const std::string localConfig = R"({"recordFilePath":)" + folder + R"(,"downloadFilePath":)" + folder +
                                  R"(,"captureLivePath":)" + folder + R"(,"capturePlaybackPath":)" + folder +
                                  R"(,"clipsPlaybackPath":)" + folder + "}";
  auto save = [&](int type) {
    return Settings().SaveDevice(R"({"data":{"deviceType":"T)" + std::to_string(type) + R"(","localConfig":)" +
                                 localConfig + "}}");
  };
  EXPECT_EQ(save(1), 0);
  EXPECT_EQ(save(2), 0);
  const std::string before = ReadFile();
  EXPECT_EQ(save(3), -1);
  EXPECT_EQ(ReadFile(), before);
  // Replacing an entry of a stored type still works at the bound.
  EXPECT_EQ(save(2), 0);
}

TEST_F(LocalSettingsTest, RefusesRequestsItCannotStore) {
  WriteFile(R"({"X":{"savePath":"/x"}})");
  const char* requests[] = {
      R"({"cmd":"setLocalConfig","data":{"deviceType":5,"localConfig":{"savePath":"/a"}}})",
      R"({"cmd":"setLocalConfig","data":{"deviceType":"P2P","localConfig":{"savePath":1}}})",
      R"({"cmd":"setLocalConfig","data":{"deviceType":"NVR","localConfig":{"recordFilePath":"/r"}}})",
      R"({"cmd":"setLocalConfig","data":{"deviceType":"NVR"}})",
      R"({"cmd":"setLocalConfig"})",
  };
  for (const char* request : requests) EXPECT_EQ(Settings().SaveDevice(request), -1) << request;
  EXPECT_EQ(ReadFile(), R"({"X":{"savePath":"/x"}})");

  LocalSettings noFolder("", "/home/u", '/');
  EXPECT_TRUE(noFolder.Path().empty());
  EXPECT_EQ(noFolder.SaveDevice(R"({"data":{"deviceType":"P2P","localConfig":{"savePath":"/a"}}})"), -1);
  EXPECT_EQ(noFolder.Folders("P2P").savePath, "/home/u");

  LocalSettings missingFolder((m_folder / "absent").string(), "/home/u", '/');
  EXPECT_EQ(missingFolder.SaveDevice(R"({"data":{"deviceType":"P2P","localConfig":{"savePath":"/a"}}})"), -1);
}

TEST_F(LocalSettingsTest, SomethingUnreadableInPlaceOfTheFileGivesDefaultsAndIsKept) {
  const std::string save = R"({"data":{"deviceType":"P2P","localConfig":{"savePath":"/a"}}})";
  // A picture upload can turn the name into a folder; a fifo would hold the command thread.
  const struct {
    const char* name;
    std::string make;
  } cases[] = {{"folder", "mkdir -p '" + FilePath() + "/x.png'"},
               {"fifo", "mkfifo '" + FilePath() + "'"},
               {"link to a folder", "ln -s '" + m_folder.string() + "' '" + FilePath() + "'"}};
  for (const auto& c : cases) {
    std::filesystem::remove_all(FilePath());
    ASSERT_EQ(std::system(c.make.c_str()), 0) << c.name;
    EXPECT_EQ(Settings().LoadText(), std::nullopt) << c.name;
    EXPECT_EQ(Settings().Folders("P2P").savePath, "/home/u") << c.name;
    EXPECT_EQ(Settings().Folders("NVR").recordFilePath, "/home/u/NVR/Record") << c.name;
    EXPECT_EQ(Settings().SaveDevice(save), -1) << c.name;
    EXPECT_FALSE(std::filesystem::is_regular_file(FilePath())) << c.name;
  }
  // A link the user made to a real file is read and written through.
  std::filesystem::remove_all(FilePath());
  std::ofstream(m_temp.File("kept.json")) << R"({"P2P":{"savePath":"/kept"}})";
  std::filesystem::create_symlink(m_temp.File("kept.json"), FilePath());
  EXPECT_EQ(Settings().Folders("P2P").savePath, "/kept");
  EXPECT_EQ(Settings().SaveDevice(save), 0);
  EXPECT_EQ(Settings().Folders("P2P").savePath, "/a");
}

TEST_F(LocalSettingsTest, PathJoinsFolderAndName) {
  EXPECT_EQ(LocalSettings("/data", "/h", '/').Path(), "/data/Nimbrel.json");
  EXPECT_EQ(LocalSettings("/data/", "/h", '/').Path(), "/data/Nimbrel.json");
  EXPECT_EQ(LocalSettings("C:\\Users\\u\\AppData\\Local\\", "C:", '\\').Path(),
            "C:\\Users\\u\\AppData\\Local\\Nimbrel.json");
}

}  // namespace
