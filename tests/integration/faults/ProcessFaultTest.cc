// The service's process under the faults of its machine: killed outright while it records and
// downloads, its X server gone, its files refused for size. Recordings written until then still
// play, the page hears of a recording that stopped, and the real watchdog brings the service
// back within its period.
#include <gtest/gtest.h>

#include "FaultRig.h"

namespace {

using namespace std::chrono_literals;

constexpr int kWatchdogPeriodMs = 500;

std::string RecordData(int pane, const std::string& file) {
  return R"({"wndIndex":)" + std::to_string(pane) + R"(,"fileName":)" + Quoted(file) + "}";
}

std::string DownloadData(const std::string& url, const std::string& file) {
  return R"({"url":)" + Quoted(url) + R"(,"fileName":)" + Quoted(file) +
         R"(,"requestJson":{"action":"download","data":{"startTime":"7000","endTime":"7600","fileSize":"0"}}})";
}

// Opens a page, retrying while a (re)started service comes up.
std::unique_ptr<PageClient> OpenPageWithin(int port, std::chrono::milliseconds limit) {
  std::unique_ptr<PageClient> page;
  WaitUntil(
      [&] {
        page = std::make_unique<PageClient>();
        return page->Open(port);
      },
      limit);
  return page && !page->Uuid().empty() ? std::move(page) : nullptr;
}

// startRecord succeeds once the pane's player is open, that is after its first frame.
bool StartRecording(PageClient& page, int pane, const std::string& file) {
  return WaitUntil([&] { return DataInt(page.Command("startRecord", RecordData(pane, file)), "errorCode") == 0; },
                   20s);
}

class ProcessFaultTest : public ServiceOnXTest {
 protected:
  void SetUp() override {
    SetUpRig(false);
  }
  std::string RunFile(const std::string& name) const { return m_service.Dir() + "/" + name; }

};

TEST_F(ProcessFaultTest, KilledWhileRecordingAndDownloadingLeavesPlayableFilesAndComesBack) {
  WatchedService watched(m_service, Environment(), kWatchdogPeriodMs);
  ASSERT_TRUE(watched.Started());
  const int first = watched.WaitForStart(1, 10s);
  ASSERT_NE(first, 0) << watched.Output();
  {
    std::unique_ptr<PageClient> probe = OpenPageWithin(m_service.Port(), 20s);
    ASSERT_TRUE(probe) << watched.Output();
  }
  auto group = OpenGroupPage(m_service.Port(), m_x.Display(), 1);
  ASSERT_TRUE(group);
  PageClient& page = group->page;
  ASSERT_EQ(DataInt(page.Command("startPlay", PlayData(Url("width=352&height=288&audio=g711a"), 0)), "errorCode"), 0);
  ASSERT_TRUE(StartRecording(page, 0, RunFile("rec/live.mp4")));
  ASSERT_EQ(DataInt(page.Command("startDownload",
                                 DownloadData(Url("mode=download&pace=1&width=352&height=288"), RunFile("dl/clip.mkv"))),
                    "errorCode"),
            0);
  // Both files hold a few seconds of pictures on disk.
  auto framesIn = [&](const std::string& folder) {
    auto files = FilesUnder(RunFile(folder));
    return files.size() == 1 ? ProbeFrames(files[0]) : 0;
  };
  ASSERT_TRUE(WaitUntil([&] { return framesIn("rec") >= 50 && framesIn("dl") >= 50; }, 60s))
      << "recording " << framesIn("rec") << " frames, download " << framesIn("dl");

  const auto killed = std::chrono::steady_clock::now();
  RunCommand("kill -KILL " + std::to_string(first));
  const int second = watched.WaitForStart(2, 10s);
  const auto restarted = std::chrono::steady_clock::now();
  EXPECT_NE(second, 0) << watched.Output();
  EXPECT_LT(restarted - killed, std::chrono::milliseconds(kWatchdogPeriodMs) + (kSanitized ? 5s : 1500ms));
  EXPECT_TRUE(OpenPageWithin(m_service.Port(), 20s)) << "the restarted service answers no page";

  // Everything written before the kill still plays.
  for (const char* folder : {"rec", "dl"}) {
    auto files = FilesUnder(RunFile(folder));
    ASSERT_EQ(files.size(), 1u) << folder;
    EXPECT_GE(ProbeFrames(files[0]), 50) << files[0];
    EXPECT_EQ(RunCommand("ffmpeg -v error -nostdin -i '" + files[0] + "' -map 0:v -f null - 2>&1 | grep -v -i "
                         "'partial file\\|truncat\\|invalid data found\\|end of file' | head -5"),
              "")
        << files[0];
  }
}

TEST_F(ProcessFaultTest, XServerGoneEndsTheServiceCleanlyAndTheWatchdogRestartsIt) {
  WatchedService watched(m_service, Environment(), kWatchdogPeriodMs);
  ASSERT_TRUE(watched.Started());
  const int first = watched.WaitForStart(1, 10s);
  ASSERT_NE(first, 0) << watched.Output();
  ASSERT_TRUE(OpenPageWithin(m_service.Port(), 20s)) << watched.Output();
  auto group = OpenGroupPage(m_service.Port(), m_x.Display(), 4);
  ASSERT_TRUE(group);
  for (int pane = 0; pane < 4; ++pane)
    ASSERT_EQ(DataInt(group->page.Command("startPlay", PlayData(Url("width=352&height=288"), pane)), "errorCode"), 0);
  ASSERT_TRUE(WaitUntil([&] { return CountSourceEvents(m_source, "streaming") >= 4; }, 20s));

  m_x.Signal("KILL");
  EXPECT_TRUE(WaitUntil([&] { return !ProcessRuns(first); }, 20s)) << "the service outlived its display";
  const int second = watched.WaitForStart(2, 20s);
  EXPECT_NE(second, 0) << watched.Output();
  // An orderly end: no crash dump, no fatal signal.
  EXPECT_TRUE(FilesUnder(m_service.Dir(), ".dmp").empty()) << watched.Output();
  EXPECT_EQ(watched.Output().find("signal"), std::string::npos) << watched.Output();
  // The restarted service has no display to open and serves pages on the headless one.
  EXPECT_TRUE(OpenPageWithin(m_service.Port(), 20s)) << watched.Output();
}

// A file-size limit refuses the recording's writes (EFBIG) the way a full disk refuses them
// (ENOSPC), while the volume still shows room enough for the recording to start.
TEST_F(ProcessFaultTest, FullDiskStopsTheRecordingWithANoticeAndThePaneGoesOn) {
  m_service.SetEnvironment(Environment());
  ASSERT_TRUE(m_service.Start("ulimit -f 512;"));  // 512 KiB
  auto group = OpenGroupPage(m_service.Port(), m_x.Display(), 1);
  ASSERT_TRUE(group);
  PageClient& page = group->page;
  ASSERT_EQ(DataInt(page.Command("startPlay", PlayData(Url("width=640&height=360&fps=30&pane=rec"), 0)), "errorCode"),
            0);
  ASSERT_TRUE(StartRecording(page, 0, RunFile("rec/full.mp4")));
  std::string notice;
  const auto deadline = std::chrono::steady_clock::now() + 90s;
  while (notice.empty() && ProcessRuns(m_service.Pid()) && std::chrono::steady_clock::now() < deadline)
    notice = page.Wait({R"("cmd":"notice")", R"("errorCode":-5,"wndIndex":0)"}, 1s);
  ASSERT_TRUE(ProcessRuns(m_service.Pid())) << "the service ended";
  EXPECT_NE(notice, "") << "no notice of the stopped recording";
  EXPECT_NE(page.Command("webconnect", R"({"webVersion":"1.0"})"), "");
  // What was written up to the limit plays.
  auto files = FilesUnder(RunFile("rec"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_GT(ProbeFrames(files[0]), 0);
  // The pane kept its stream: stopping it now closes a connection that never lost a frame.
  const std::vector<long> conns = SourceConnections(m_source, "pane=rec");
  ASSERT_EQ(conns.size(), 1u);
  EXPECT_FALSE(SourceConnectionEnded(m_source, conns[0]));
  ASSERT_EQ(DataInt(page.Command("stopRecord", R"({"wndIndex":0})"), "errorCode"), 0);
  ASSERT_EQ(DataInt(page.Command("stopPlay", StopData(0)), "errorCode"), 0);
  ASSERT_TRUE(WaitUntil([&] { return SourceConnectionEnded(m_source, conns[0]); }, 10s));
  EXPECT_EQ(SourceCloseField(m_source, conns[0], "dropped"), 0);
  EXPECT_EQ(m_service.StopAndTakeSanitizerReport(), "");
}

}  // namespace
