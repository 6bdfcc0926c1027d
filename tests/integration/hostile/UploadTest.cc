// Picture uploads a page may use against the user's files: through links, into special files, and
// with names that are not full paths. Each is refused (-1) and writes or creates nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "HostilePeers.h"

namespace {

namespace fs = std::filesystem;

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) names.insert(entry.path().string());
  return names;
}

TEST(UploadTest, LinksSpecialFilesAndPartialNamesAreRefused) {
  ServiceProcess service;
  ASSERT_TRUE(service.Start());
  fs::path dir = service.Dir();
  fs::path pictures = dir / "pictures";
  fs::create_directories(pictures);
  std::ofstream(dir / "victim.txt") << "keep";
  fs::create_symlink(dir / "victim.txt", pictures / "link.png");
  fs::create_symlink(dir / "created-through-link.txt", pictures / "dangling.jpg");
  fs::create_symlink(dir, pictures / "folder-link.png");
  fs::create_directories(pictures / "folder.png");
  ASSERT_EQ(std::system(("mkfifo '" + (pictures / "fifo.png").string() + "'").c_str()), 0);
  std::set<std::string> before = Listing(dir);

  const std::string names[] = {
      (pictures / "link.png").string(),
      (pictures / "dangling.jpg").string(),
      (pictures / "folder-link.png").string(),
      (pictures / "folder.png").string(),
      (pictures / "fifo.png").string(),
      "pictures/relative.png",
      "new/relative.png",
      "./new/relative.png",
      "C:\\\\probe\\\\win.jpg",
      "C:/probe/win.jpg",
      (pictures / ".." / "up.png").string(),
  };
  for (const std::string& name : names) {
    std::string answer = UploadPicture(service, name);
    EXPECT_TRUE(EndsWith(answer, kUploadRefused)) << name << ":\n" << answer;
  }
  fs::remove(dir / "post.json");
  EXPECT_EQ(Listing(dir), before) << "something was written or created";
  EXPECT_EQ(service.ReadFile("victim.txt"), "keep");
  EXPECT_EQ(service.ReadFile("xdg-open.log"), "") << "a refused upload opened a folder";

  // A full name of a new or existing picture is still written.
  EXPECT_TRUE(EndsWith(UploadPicture(service, (pictures / "new" / "a.png").string()), kUploadDone));
  EXPECT_EQ(service.ReadFile("pictures/new/a.png"), "hello");
  std::ofstream(pictures / "old.png") << "older content";
  EXPECT_TRUE(EndsWith(UploadPicture(service, (pictures / "old.png").string()), kUploadDone));
  EXPECT_EQ(service.ReadFile("pictures/old.png"), "hello");
  EXPECT_TRUE(ServiceAnswersPages(service.Port()));
  EXPECT_EQ(service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
