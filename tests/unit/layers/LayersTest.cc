// Every #include in the source tree against the layer table of DESIGN.md.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "IncludeRules.h"

namespace fs = std::filesystem;

namespace {

const char* const kOurFolders[] = {"common", "libthread", "platform", "vxavplayer", "service",
                                   "watchdog", "tools",     "tests",    "bench",      "web"};

bool IsOurs(const std::string& path) {
  std::string first = path.substr(0, path.find('/'));
  return std::find(std::begin(kOurFolders), std::end(kOurFolders), first) != std::end(kOurFolders);
}

bool IsSource(const fs::path& p) {
  static const char* const kExtensions[] = {".h", ".hpp", ".cc", ".cpp", ".cxx", ".c"};
  std::string ext = p.extension().string();
  return std::find(std::begin(kExtensions), std::end(kExtensions), ext) != std::end(kExtensions);
}

// Source files of ours, relative to `root`; build trees, hidden folders and node modules skipped.
std::vector<std::string> SourceFiles(const fs::path& root) {
  std::vector<std::string> files;
  const fs::path binary = fs::weakly_canonical(NIMBREL_BINARY_DIR);
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path& p = it->path();
    std::string name = p.filename().string();
    if (it->is_directory()) {
      if (name[0] == '.' || name == "node_modules" || fs::exists(p / "CMakeCache.txt") ||
          fs::weakly_canonical(p) == binary)
        it.disable_recursion_pending();
      continue;
    }
    std::string relative = p.lexically_relative(root).generic_string();
    if (it->is_regular_file() && IsSource(p) && IsOurs(relative)) files.push_back(relative);
  }
  return files;
}

// Where a quoted include of `from` lands: beside the file, from the root, or the AV library's
// include folder (the targets' include paths). Empty when it is not one of ours.
std::string Resolve(const fs::path& root, const std::string& from, const layers::Include& include) {
  std::vector<fs::path> candidates;
  if (!include.angled) candidates.push_back(fs::path(from).parent_path() / include.text);
  candidates.push_back(include.text);
  candidates.push_back(fs::path("vxavplayer/include") / include.text);
  for (const fs::path& c : candidates) {
    std::string relative = c.lexically_normal().generic_string();
    if (relative.rfind("..", 0) != 0 && fs::is_regular_file(root / relative)) return IsOurs(relative) ? relative : "";
  }
  // Not there (yet): judged by the folder it names.
  return !include.angled && IsOurs(include.text) ? include.text : "";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LayersTest, RulesOfTheLayerTable) {
  const struct {
    const char* from;
    const char* to;
    bool allowed;
  } cases[] = {
      {"common/TimeText.h", "common/CalendarTime.h", true},
      {"common/TimeText.h", "platform/system/Clock.h", false},
      {"libthread/ThreadLib.cc", "common/DebugLog.h", false},
      {"platform/system/Clock.h", "common/CalendarTime.h", true},
      {"platform/display/Display.cc", "service/windows/CPlayWnd.h", false},
      {"platform/net/Socket.h", "vxavplayer/include/VXAVPlayer.h", false},
      {"vxavplayer/src/Renderer.cc", "platform/display/VideoOutput.h", true},
      {"vxavplayer/src/Renderer.cc", "vxavplayer/include/VXAVPlayer.h", true},
      {"vxavplayer/src/Renderer.cc", "libthread/ThreadLib.h", false},
      {"vxavplayer/src/Renderer.cc", "service/media/MediaHeader.h", false},
      {"service/events/IEvent.h", "platform/display/WindowId.h", true},
      {"service/events/IEvent.h", "service/windows/CPlayWnd.h", false},
      {"service/windows/CPlayWnd.cc", "service/events/IEvent.h", true},
      {"service/windows/CPlayWnd.cc", "service/protocol/Session.h", false},
      {"service/windows/CPlayWnd.cc", "service/host/WsServer.h", false},
      {"service/windows/CPlayWnd.cc", "service/media/PlayChannel.h", false},
      {"service/media/PlayChannel.h", "service/windows/CPlayWnd.h", false},
      {"service/media/PlayChannel.h", "service/protocol/EventRouter.h", false},
      {"service/media/StreamDescriptionLayout.h", "vxavplayer/include/VXAVPlayer.h", true},
      {"service/media/PlayChannel.cc", "vxavplayer/src/StreamPlayer.h", false},
      {"service/protocol/Session.cc", "service/media/PlayChannel.h", true},
      {"service/protocol/Session.cc", "service/host/WsServer.h", false},
      {"service/host/WsServer.cc", "service/protocol/EventRouter.h", true},
      {"service/settings/LocalSettings.cc", "service/protocol/JsonKeys.h", false},
      {"service/newfolder/Thing.cc", "common/DebugLog.h", false},
      {"watchdog/Watchdog.cc", "service/host/WsServer.h", false},
      {"tools/play/Main.cc", "service/media/StreamClient.h", true},
      {"tests/unit/windows/PlayWndTest.cc", "service/windows/CPlayWnd.h", true},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(layers::MayInclude(c.from, c.to, &why), c.allowed) << c.from << " -> " << c.to;
  }
  for (const char* os : {"unistd.h", "sys/socket.h", "X11/Xlib.h", "windows.h", "pthread.h", "poll.h",
                         "netinet/in.h", "arpa/inet.h", "signal.h", "fcntl.h", "dirent.h"})
    EXPECT_TRUE(layers::IsOsHeader(os)) << os;
  for (const char* standard : {"csignal", "cstdio", "thread", "openssl/ssl.h", "rapidjson/document.h",
                               "stdint.h", "gtest/gtest.h"})
    EXPECT_FALSE(layers::IsOsHeader(standard)) << standard;
  EXPECT_TRUE(layers::MayIncludeOsHeaders("platform/net/SocketPosix.cc"));
  EXPECT_FALSE(layers::MayIncludeOsHeaders("service/host/ConnectionLoop.cc"));
  EXPECT_FALSE(layers::MayIncludeOsHeaders("tests/unit/display/X11DisplayTest.cc"));
}

TEST(LayersTest, IncludeLinesOutsideComments) {
  auto found = layers::ParseIncludes(
      "#include <a.h>\n"
      "  #  include \"b/c.h\"  // why\n"
      "// #include \"commented.h\"\n"
      "/* #include \"in-comment.h\"\n"
      "#include \"still-comment.h\"\n"
      "*/ #include \"after-comment.h\"\n"
      "int x; /* short */\n"
      "#include\"d.h\"\n");
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].text, "a.h");
  EXPECT_TRUE(found[0].angled);
  EXPECT_EQ(found[1].text, "b/c.h");
  EXPECT_FALSE(found[1].angled);
  EXPECT_EQ(found[2].text, "after-comment.h");
  EXPECT_EQ(found[2].line, 6);
  EXPECT_EQ(found[3].text, "d.h");
}

TEST(LayersTest, EveryIncludeOfTheTreeFollowsTheTable) {
  const fs::path root = NIMBREL_SOURCE_DIR;
  std::vector<std::string> files = SourceFiles(root);
  std::vector<std::string> broken;
  int edges = 0, osHeaders = 0;
  for (const std::string& file : files) {
    for (const layers::Include& include : layers::ParseIncludes(ReadFile(root / file))) {
      std::string where = file + ":" + std::to_string(include.line) + ": " + include.text;
      if (include.angled && layers::IsOsHeader(include.text)) {
        ++osHeaders;
        if (!layers::MayIncludeOsHeaders(file)) broken.push_back(where + " (an OS header outside platform/)");
      }
      std::string target = Resolve(root, file, include);
      if (target.empty()) continue;
      ++edges;
      std::string why;
      if (!layers::MayInclude(file, target, &why)) broken.push_back(where + " (" + why + ")");
    }
  }
  // The walk really saw the tree: the service's files and the platform's own OS headers.
  EXPECT_GT(files.size(), 200u);
  EXPECT_GT(edges, 500);
  EXPECT_GT(osHeaders, 10);
  std::string list;
  for (const std::string& line : broken) list += line + "\n";
  EXPECT_TRUE(broken.empty()) << list;
}

}  // namespace
