#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/system/Shell.h"
#include "tests/support/TempFolder.h"

namespace {

// Runs the real shell code against stand-in programs found through a private PATH.
class ShellTest : public ::testing::Test {
 protected:
  ShellTest() {
    const char* path = std::getenv("PATH");
    m_oldPath = path ? path : "";
    setenv("PATH", m_bin.c_str(), 1);
  }
  ~ShellTest() override {
    setenv("PATH", m_oldPath.c_str(), 1);
  }
  void Program(const std::string& name, const std::string& script) {
    std::filesystem::path file = m_bin / name;
    std::ofstream(file) << "#!/bin/sh\n" << script << "\n";
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
  }

  TempFolder m_temp;
  const std::filesystem::path& m_bin = m_temp.Path();
  std::string m_oldPath;
};

TEST_F(ShellTest, PickerAnswersTheChosenFolderOrCancel) {
  EXPECT_EQ(platform::system::NativePickFolder(), std::nullopt) << "no picker installed";
  EXPECT_FALSE(platform::system::NativeShellOpen("/tmp")) << "no opener installed";

  Program("zenity", "echo '/home/u/My Videos'");
  EXPECT_EQ(platform::system::NativePickFolder(), std::optional<std::string>("/home/u/My Videos"));
  Program("zenity", "exit 1");
  EXPECT_EQ(platform::system::NativePickFolder(), std::nullopt);
  Program("zenity", "printf ''");
  EXPECT_EQ(platform::system::NativePickFolder(), std::nullopt);
}

TEST_F(ShellTest, HooksReplaceTheRealShell) {
  std::string opened;
  platform::system::SetShellHooks({[&](const std::string& p) {
                                     opened = p;
                                     return true;
                                   },
                                   [] { return std::optional<std::string>("/x"); }});
  EXPECT_TRUE(platform::system::ShellOpen("/y"));
  EXPECT_EQ(opened, "/y");
  EXPECT_EQ(platform::system::PickFolder(), std::optional<std::string>("/x"));
  platform::system::SetShellHooks({});
  EXPECT_EQ(platform::system::PickFolder(), std::nullopt);
}

}  // namespace
