// A pane's packet queue overflowing: the X server stops taking pictures (SIGSTOP), so the
// pane's decoder waits, the player's buffer fills and the queue behind it with it. Live drops
// (and says so in the log) and plays on once the server answers again; playback holds its source
// back and drops nothing.
#include <gtest/gtest.h>

#include "FaultRig.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kDropLine = "throw packet!";

class QueueFaultTest : public ServiceOnXTest {
 protected:
  void SetUp() override {
    SetUpRig(true);
    if (HasFatalFailure()) return;
    m_group = OpenGroupPage(m_service.Port(), m_x.Display(), 1);
    ASSERT_TRUE(m_group) << "no window group";
  }
  void TearDown() override {
    m_x.Signal("CONT");
    m_group.reset();
    EXPECT_EQ(m_service.StopAndTakeSanitizerReport(), "");
  }
  int Drops() {
    int n = 0;
    for (const std::string& line : m_service.Lines()) n += line.find(kDropLine) != std::string::npos;
    return n;
  }
  bool PaneMoves() { return PaneShowsNewPictures(Page(), 0, m_service.Dir() + "/shots"); }
  PageClient& Page() { return m_group->page; }

  std::unique_ptr<GroupPage> m_group;
};

TEST_F(QueueFaultTest, LiveDropsAndRecoversPlaybackHoldsBack) {
  // Live: the queue overflows while the server is stopped.
  ASSERT_EQ(DataInt(Page().Command("startPlay", PlayData(Url("width=352&height=288&fps=60&tag=live"), 0)), "errorCode"),
            0);
  ASSERT_TRUE(PaneMoves()) << "the live pane shows no pictures";
  const auto stopped = std::chrono::steady_clock::now();
  m_x.Signal("STOP");
  ASSERT_TRUE(WaitUntil([&] { return Drops() > 0; }, 60s)) << "the live queue never overflowed";
  const auto overflowAfter = std::chrono::steady_clock::now() - stopped;
  m_x.Signal("CONT");
  EXPECT_TRUE(PaneMoves()) << "the live pane did not play on";
  ASSERT_EQ(DataInt(Page().Command("stopPlay", StopData(0)), "errorCode"), 0);

  // Playback of the same rate: stopped twice as long, nothing is dropped.
  const int dropsBefore = Drops();
  const long now = static_cast<long>(std::time(nullptr));
  std::string data = PlayData(Url("width=352&height=288&fps=60&mode=playback&tag=back"), 0);
  data.replace(data.find(R"("action":"play")"), 15, R"("action":"playback")");
  data.replace(data.find(R"("sessionID")"), 11,
               R"("startTime":")" + std::to_string(now - 3600) + R"(","endTime":")" + std::to_string(now) +
                   R"(","sessionID")");
  ASSERT_EQ(DataInt(Page().Command("startPlayBack", data), "errorCode"), 0);
  ASSERT_TRUE(PaneMoves()) << "the playback pane shows no pictures";
  m_x.Signal("STOP");
  std::this_thread::sleep_for(2 * overflowAfter + 1s);  // nothing to wait on: the check is that nothing happens
  EXPECT_EQ(Drops(), dropsBefore) << "playback dropped packets";
  m_x.Signal("CONT");
  EXPECT_TRUE(PaneMoves()) << "the playback pane did not play on";
  ASSERT_EQ(DataInt(Page().Command("stopPlay", StopData(0)), "errorCode"), 0);
  EXPECT_EQ(Drops(), dropsBefore);
}

}  // namespace
