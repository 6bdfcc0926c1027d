#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "LogCapture.h"
#include "ProtocolFixture.h"
#include "common/TextConv.h"
#include "platform/display/headless/HeadlessDisplay.h"
#include "platform/system/Shell.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/CommandDispatcher.h"
#include "service/protocol/EventRouter.h"

namespace {

constexpr platform::net::SocketHandle kSocket = 7;
const std::string kId = "{11111111-2222-3333-4444-555555555555}";

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest()
      : m_router(m_sessions.m_table, m_writer),
        m_context{m_sessions.m_table, m_router, m_writer, m_dialogOpen, m_folder.File("config.ini"),
                  m_folder.Path().string(), m_display},
        m_dispatcher(m_context),
        m_session(m_sessions.Add(kSocket, kId)) {}
  ~DispatcherTest() override { platform::system::SetShellHooks({}); }

  std::string Execute(const std::string& text) { return m_dispatcher.ExecuteCommand(kSocket, kId, text); }
  // The reply the page gets for `cmd` with the given "data" members and no sequence.
  static std::string Reply(const std::string& cmd, const std::string& data) {
    return R"({"cmd":")" + cmd + R"(","data":)" + data + R"(,"sequence":"","uuid":")" + kId + R"("})";
  }
  void WriteConfig(const std::string& content) { std::ofstream(m_folder.File("config.ini")) << content; }
  std::string SettingsFileText() {
    std::ifstream in(m_folder.File("Nimbrel.json"));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  platform::display::HeadlessDisplay m_display;
  TempFolder m_folder;
  SessionsHolder m_sessions;
  RecordingWriter m_writer;
  std::atomic<bool> m_dialogOpen{false};
  EventRouter m_router;
  ServiceContext m_context;
  CommandDispatcher m_dispatcher;
  CSession& m_session;
};

TEST_F(DispatcherTest, WebconnectAnswersTheConfiguredVersion) {
  const std::string longVersion(60, 'v');
  struct Case {
    std::string config;
    std::string version;
  } cases[] = {
      {"[Port]\nServicePortStart=9000\n[Info]\nVersion=1.0.7\n", "1.0.7"},
      {"[Info]\nVersion=" + longVersion + "\n", longVersion.substr(0, 49)},
      {"[Info]\nOther=1\n", ""},
  };
  for (const Case& c : cases) {
    WriteConfig(c.config);
    EXPECT_EQ(Execute(R"({"cmd":"webconnect","sequence":"7","data":{"webVersion":"3.1"}})"),
              R"({"cmd":"webconnect","data":{"errorCode":0,"version":")" + c.version + R"("},"sequence":"7","uuid":")" +
                  kId + R"("})");
    EXPECT_EQ(m_session.m_strWebVersion, "3.1");
  }
  Execute(R"({"cmd":"webconnect","data":null})");
  EXPECT_EQ(m_session.m_strWebVersion, "");
}

TEST_F(DispatcherTest, DropsWhatItCannotAnswer) {
  LogCapture log;
  EXPECT_EQ(m_dispatcher.ExecuteCommand(99, kId, R"({"cmd":"webconnect"})"), "");
  // The socket now belongs to another connection.
  EXPECT_EQ(m_dispatcher.ExecuteCommand(kSocket, "{other}", R"({"cmd":"webconnect"})"), "");
  EXPECT_EQ(Execute(R"({"cmd":"webconnect")"), "");
  EXPECT_EQ(Execute(R"({"cmd":"arrangeWnd","data":{}})"), "");
  EXPECT_TRUE(m_writer.m_sent.empty());
}

TEST_F(DispatcherTest, AnswersCommandsWithoutWorkToDo) {
  const struct {
    std::string message;
    std::string reply;
  } cases[] = {
      {R"({"cmd":"dance","data":{"x":1}})", Reply("dance", R"({"errorCode":0})")},
      {R"({"code":4001,"sequence":"9"})", Reply("", R"({"errorCode":0})")},
      {R"({"cmd":"searchDevice","data":{"ipType":0,"deviceProtocol":1,"onvifMultiNet":true}})",
       Reply("searchDevice", R"({"errorCode":0})")},
      {R"({"cmd":"showFirstPage","data":{"type":1}})", Reply("showFirstPage", R"({"errorCode":0,"param":"{}"})")},
      {R"({"cmd":"getProcessIsAdmin","data":{"processName":"x"}})",
       Reply("getProcessIsAdmin", R"({"errorCode":0,"isAdministrator":false})")},
      {R"({"cmd":"downloadPicture","data":{"fileName":"a.jpg","fileBase64":"x"}})",
       Reply("downloadPicture", R"({"errorCode":0})")},
      // Without window groups and channels yet.
      {R"({"cmd":"getSelectWndIndex"})", Reply("getSelectWndIndex", R"({"errorCode":0,"wndIndex":-1,"channel":-1})")},
      {R"({"cmd":"startPlay","data":{"url":"u","wndIndex":1,"playParam":{"videoCoder":1,"audioCoder":2,"frameRate":25,"bitRate":0,"width":1,"height":1},"requestJson":{"data":{"sessionID":"s"}}}})",
       Reply("startPlay", R"({"errorCode":-1})")},
      {R"({"cmd":"seekPlayBack","data":{"wndIndex":2,"requestJson":{"data":{"seekTime":"77"}}}})",
       Reply("seekPlayBack", R"({"errorCode":0,"wndIndex":2,"seekTime":"77"})")},
      {R"({"cmd":"getOSDTime","data":{"wndIndex":2,"speed":3,"callback":"cb"}})",
       Reply("getOSDTime", R"({"errorCode":0,"osdTime":0,"wndIndex":2,"stream":0,"speed":3,"callback":"cb"})")},
      {R"({"cmd":"startTalk","data":{"url":"u","requestJson":{"data":{"encodeType":"G711A"}}}})",
       Reply("startTalk", R"({"errorCode":0,"channel":-2})")},
      {R"({"cmd":"getBitRate","data":{"channel":64}})", Reply("getBitRate", R"({"errorCode":0,"bitRate":0})")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(Execute(c.message), c.reply);
  }
}

std::string SetConfig(const std::string& type, const std::string& config) {
  return R"({"cmd":"setLocalConfig","data":{"deviceType":")" + type + R"(","localConfig":)" + config + "}}";
}
std::string Folders(const std::string& a, const std::string& b, const std::string& c, const std::string& d,
                    const std::string& e) {
  return R"({"recordFilePath":")" + a + R"(","downloadFilePath":")" + b + R"(","captureLivePath":")" + c +
         R"(","capturePlaybackPath":")" + d + R"(","clipsPlaybackPath":")" + e + R"("})";
}

// Default folders start at $HOME; each test sets its own.
class ScopedHome {
 public:
  explicit ScopedHome(const char* home) {
    const char* old = std::getenv("HOME");
    m_hadHome = old != nullptr;
    if (old) m_old = old;
    setenv("HOME", home, 1);
  }
  ~ScopedHome() {
    if (m_hadHome) {
      setenv("HOME", m_old.c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }

 private:
  bool m_hadHome = false;
  std::string m_old;
};

TEST_F(DispatcherTest, LocalConfigRoundTrip) {
  ScopedHome home("/home/tester");
  const std::string a = Folders("/a/1", "/a/2", "/a/3", "/a/4", "/a/5");
  for (const char* type : {"A", "B", "C"}) {
    EXPECT_EQ(Execute(SetConfig(type, a)), Reply("setLocalConfig", R"({"errorCode":0})"));
  }
  const std::string a2 = Folders("undefined", "", "/z/3", "/z/4", "/z/5");
  Execute(SetConfig("A", a2));
  Execute(SetConfig("P2P", R"({"savePath":"/p"})"));
  EXPECT_EQ(SettingsFileText(),
            R"({"C":)" + a + R"(,"B":)" + a + R"(,"A":)" + a2 + R"(,"P2P":{"savePath":"/p"}})");

  EXPECT_EQ(Execute(R"({"cmd":"getLocalConfig","data":{"deviceType":"A"}})"),
            Reply("getLocalConfig", R"({"errorCode":0,"localConfig":)" +
                                        Folders("/home/tester/A/Record", "/home/tester/A/DownloadFiles", "/z/3",
                                                "/z/4", "/z/5") +
                                        "}"));
  EXPECT_EQ(Execute(R"({"cmd":"getLocalConfig","data":{"deviceType":"P2P"}})"),
            Reply("getLocalConfig", R"({"errorCode":0,"localConfig":{"savePath":"/p"}})"));
}

TEST_F(DispatcherTest, LocalConfigDefaultsStartAtHome) {
  ScopedHome home("/home/tester");
  const struct {
    std::string type;
    std::string localConfig;
  } cases[] = {
      {"NVR", Folders("/home/tester/NVR/Record", "/home/tester/NVR/DownloadFiles", "/home/tester/NVR/Capture",
                      "/home/tester/NVR/PlaybackPics", "/home/tester/NVR/PlaybackFiles")},
      {"P2P", R"({"savePath":"/home/tester"})"},
      {"", Folders("", "", "", "", "")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(Execute(R"({"cmd":"getLocalConfig","data":{"deviceType":")" + c.type + R"("}})"),
              Reply("getLocalConfig", R"({"errorCode":0,"localConfig":)" + c.localConfig + "}"));
  }
}

TEST_F(DispatcherTest, BrowseFilePathMarksTheDialogAndTrimsTheFolder) {
  const struct {
    std::optional<std::string> picked;
    std::string filePath;
  } cases[] = {{std::string("/data/rec/"), "/data/rec"}, {std::string("D:\\"), "D:"}, {std::string("/"), "/"},
               {std::nullopt, ""}};
  for (const auto& c : cases) {
    bool openWhilePicking = false;
    platform::system::SetShellHooks({nullptr, [&] {
                                       openWhilePicking = m_dialogOpen;
                                       return c.picked;
                                     }});
    EXPECT_EQ(Execute(R"({"cmd":"browseFilePath"})"),
              Reply("browseFilePath", R"({"errorCode":0,"filePath":")" + c.filePath + R"("})"));
    EXPECT_TRUE(openWhilePicking);
    EXPECT_FALSE(m_dialogOpen);
  }
}

// Linux has no drive letters: every ':' becomes '.', as in the names files are written under.
// Only folders and the kinds of file the service writes reach the desktop's opener: "opening" a
// script or a launcher entry would run it.
TEST_F(DispatcherTest, OpenDownloadFolderOpensOnlyFoldersAndMedia) {
  std::vector<std::string> opened;
  platform::system::SetShellHooks({[&](const std::string& path) {
                                     opened.push_back(path);
                                     return true;
                                   },
                                   nullptr});
  std::filesystem::create_directories(m_folder.File("12.30.05"));
  for (const char* name : {"12.30.05/a.mp4", "shot.JPG", "run.sh", "evil.desktop", "noext"})
    std::ofstream(m_folder.File(name)) << "x";
  std::filesystem::create_symlink(m_folder.File("run.sh"), m_folder.File("link.mp4"));
  std::filesystem::create_symlink(m_folder.File("12.30.05"), m_folder.File("folderlink"));
  struct Case {
    std::string path;
    int code;
    std::string opens;
  };
  const Case cases[] = {
      {m_folder.File("12:30:05/a.mp4"), 0, m_folder.File("12.30.05/a.mp4")},
      {m_folder.File("12:30:05"), 0, m_folder.File("12.30.05")},
      {m_folder.File("shot.JPG"), 0, m_folder.File("shot.JPG")},
      {m_folder.File("folderlink"), 0, m_folder.File("folderlink")},
      {m_folder.File("run.sh"), -1, ""},
      {m_folder.File("evil.desktop"), -1, ""},
      {m_folder.File("noext"), -1, ""},
      {m_folder.File("link.mp4"), -1, ""},
      {m_folder.File("missing.mp4"), -1, ""},
      {"relative/a.mp4", -1, ""},
      {"/dev/null", -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    opened.clear();
    EXPECT_EQ(Execute(R"({"cmd":"openDownloadFloder","data":{"filePath":")" + c.path + R"("}})"),
              Reply("openDownloadFloder", R"({"errorCode":)" + std::to_string(c.code) + "}"));
    EXPECT_EQ(opened, c.opens.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.opens});
  }
}

// Which pane's recording a stopRecord or startRecord reaches. Each channel remembers its
// recording folder even though nothing plays (no player: the start answers -1); stopping a
// channel's recording opens that folder, which is what the test sees.
TEST_F(DispatcherTest, RecordCommandsSelectByCameraOrPane) {
  std::vector<std::string> opened;
  platform::system::SetShellHooks({[&](const std::string& path) {
                                     opened.push_back(path);
                                     return true;
                                   },
                                   nullptr});
  const std::string folders[] = {m_folder.File("a") + "/", m_folder.File("b") + "/", m_folder.File("c") + "/"};
  for (int pane = 0; pane < 3; ++pane) {
    auto channel = std::make_unique<PlayChannel>();
    const std::string request = R"({"data":{"channel":)" + std::to_string(pane + 1) + "}}";
    channel->StartStream("", request, 0, StreamDescription{}, false, pane, "k" + std::to_string(pane), 4, false);
    m_session.m_channels[pane] = std::move(channel);
  }
  auto arm = [&] {
    for (int pane = 0; pane < 3; ++pane) m_session.m_channels[pane]->StartRecord(Utf8ToWide(folders[pane] + "r.mp4"));
    opened.clear();
  };
  struct Case {
    const char* data;
    std::vector<int> panes;  // whose folder opens
  } cases[] = {
      {R"({"channel":2})", {1}},                    // camera 2 plays in pane 1
      {R"({"channel":70,"wndIndex":2})", {2}},      // not a camera: the pane decides
      {R"({"wndIndex":0})", {0}},
      {R"({"channel":-1,"wndIndex":1})", {0, 1, 2}},
      {R"({"wndIndex":-1})", {0, 1, 2}},
      {R"({"channel":3,"wndIndex":-1})", {2}},      // a carried channel leaves wndIndex unread
      {R"({"channel":9})", {}},
      {R"({"channel":70})", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data);
    arm();
    Execute(std::string(R"({"cmd":"stopRecord","data":)") + c.data + "}");
    std::vector<std::string> expected;
    for (int pane : c.panes) expected.push_back(folders[pane]);
    EXPECT_EQ(opened, expected);
  }

  // startRecord finds its channel the same way; without a player it answers -1, without a
  // channel 0. A path leading out of its folder is refused before anything is remembered.
  Execute(R"({"cmd":"stopRecord","data":{"channel":-1}})");  // no folder remembered from here on
  const std::string path = m_folder.File("d/r.mp4");
  auto start = [&](const std::string& target, const std::string& file) {
    return Execute(R"({"cmd":"startRecord","data":{)" + target + R"(,"fileName":")" + file + R"("}})");
  };
  EXPECT_EQ(start(R"("channel":3,"wndIndex":9)", path), Reply("startRecord", R"({"errorCode":-1})"));
  EXPECT_EQ(start(R"("channel":70,"wndIndex":9)", path), Reply("startRecord", R"({"errorCode":0})"));
  EXPECT_EQ(start(R"("channel":70,"wndIndex":1)", m_folder.File("e/../../r.mp4")),
            Reply("startRecord", R"({"errorCode":-1})"));
  opened.clear();
  Execute(R"({"cmd":"stopRecord","data":{"channel":-1}})");
  EXPECT_EQ(opened, std::vector<std::string>{m_folder.File("d") + "/"}) << "camera 3's pane only";
  EXPECT_EQ(Execute(R"({"cmd":"startMultiRecord","data":{"param":[{"fileName":")" + path +
                    R"(","channel":70,"wndIndex":0},{"fileName":")" + path + R"(","channel":70,"wndIndex":8}]}})"),
            Reply("startMultiRecord", R"({"errorCode":-1})"));
}

}  // namespace
