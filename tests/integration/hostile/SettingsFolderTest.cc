// A page turns the settings file's name into a folder with a picture upload; the settings then
// answer their defaults, a save says it failed, and the service keeps serving.
#include <gtest/gtest.h>

#include <filesystem>

#include "HostilePeers.h"

namespace {

namespace fs = std::filesystem;

TEST(SettingsFolderTest, SettingsPathTurnedIntoAFolder) {
  ServiceProcess service;
  ASSERT_TRUE(service.Start());
  fs::path settings = fs::path(service.Dir()) / "appdata" / "Nimbrel.json";
  ASSERT_FALSE(fs::exists(settings));
  EXPECT_TRUE(EndsWith(UploadPicture(service, (settings / "x.png").string()), kUploadDone));
  ASSERT_TRUE(fs::is_directory(settings));

  std::unique_ptr<WsClient> page = OpenPage(service.Port());
  ASSERT_TRUE(page);
  const std::string get = R"({"cmd":"getLocalConfig","data":{"deviceType":"NVR"},"sequence":"1"})";
  const std::string set =
      R"({"cmd":"setLocalConfig","data":{"deviceType":"P2P","localConfig":{"savePath":"/a"}},"sequence":"2"})";
  for (int round = 0; round < 2; ++round) {
    std::string folders = Ask(*page, get);
    EXPECT_NE(folders.find(R"("errorCode":0)"), std::string::npos) << folders;
    EXPECT_NE(folders.find(R"(/NVR/Record")"), std::string::npos) << folders;
    std::string saved = Ask(*page, set);
    EXPECT_NE(saved.find(R"({"cmd":"setLocalConfig","data":{"errorCode":-1})"), std::string::npos) << saved;
  }
  EXPECT_TRUE(fs::is_directory(settings)) << "the folder the page made is left alone";
  EXPECT_TRUE(ServiceAnswersPages(service.Port()));
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
