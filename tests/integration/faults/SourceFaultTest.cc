// Stream sources that misbehave in every way a camera or a hostile URL can, against the real
// service on a private X server: the page keeps being answered, a healthy pane beside them
// keeps its stream, every bad pane stops at once when the page stops it, and every code a
// source answers reaches the page as the protocol says.
#include <gtest/gtest.h>

#include "FaultRig.h"

namespace {

using namespace std::chrono_literals;

class SourceFaultTest : public ServiceOnXTest {
 protected:
  void SetUp() override {
    SetUpRig(true);
    if (HasFatalFailure()) return;
    m_group = OpenGroupPage(m_service.Port(), m_x.Display(), 16);
    ASSERT_TRUE(m_group) << "no window group";
  }
  void TearDown() override {
    m_group.reset();
    EXPECT_EQ(m_service.StopAndTakeSanitizerReport(), "");
  }
  PageClient& Page() { return m_group->page; }

  std::unique_ptr<GroupPage> m_group;
};

TEST_F(SourceFaultTest, BadSourcesNeitherHoldThePageNorTheHealthyPane) {
  const std::vector<std::string> faults = {"refuse", "stall", "trickle", "silent", "reset", "garbage", "oversize"};
  ASSERT_EQ(DataInt(Page().Command("startPlay", PlayData(Url("width=352&height=288&fps=25&pane=healthy"), 0)),
                    "errorCode"),
            0);
  for (size_t i = 0; i < faults.size(); ++i) {
    const int pane = static_cast<int>(i) + 1;
    ASSERT_EQ(DataInt(Page().Command("startPlay", PlayData(Url("fault=" + faults[i]), pane)), "errorCode"), 0)
        << faults[i];
  }
  // Every fault has been played at least once.
  for (const std::string& fault : faults) {
    const std::string part = fault == "refuse" ? "\"refused\"" : "\"fault\":\"" + fault + "\"";
    EXPECT_TRUE(WaitUntil([&] { return CountSourceEvents(m_source, fault == "refuse" ? "refused" : "fault", part) > 0; },
                          20s))
        << fault << " was never reached";
  }
  // Meanwhile the healthy pane shows its pictures and the page is answered promptly.
  EXPECT_TRUE(PaneShowsNewPictures(Page(), 0, m_service.Dir() + "/shots"));
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_NE(Page().Command("webconnect", R"({"webVersion":"1.0"})", 5s), "");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, kSanitized ? 5s : 1s);

  // A stop of each bad pane comes back at once, whatever its client is doing.
  for (size_t i = 0; i < faults.size(); ++i) {
    const auto start = std::chrono::steady_clock::now();
    const std::string reply = Page().Command("stopPlay", StopData(static_cast<int>(i) + 1), 30s);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(DataInt(reply, "errorCode"), 0) << faults[i];
    EXPECT_LT(took, kSanitized ? 6s : 2s) << "stopping the pane of fault=" << faults[i] << " took "
                                          << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                                          << " ms";
  }
  // No bad source got more than the five connections a client makes, and each one ended.
  for (const std::string& fault : faults) {
    const std::vector<long> conns = SourceConnections(m_source, "fault=" + fault);
    EXPECT_LE(conns.size(), 5u) << fault;
    for (long conn : conns)
      EXPECT_TRUE(WaitUntil([&] { return SourceConnectionEnded(m_source, conn); }, 10s))
          << fault << " connection " << conn << " stays open";
  }
  // The healthy pane streamed all along without its source having to drop anything.
  const std::vector<long> healthy = SourceConnections(m_source, "pane=healthy");
  ASSERT_EQ(healthy.size(), 1u);
  ASSERT_EQ(DataInt(Page().Command("stopPlay", StopData(0)), "errorCode"), 0);
  ASSERT_TRUE(WaitUntil([&] { return SourceConnectionEnded(m_source, healthy[0]); }, 10s));
  EXPECT_GT(SourceCloseField(m_source, healthy[0], "videoFrames"), 0);
  EXPECT_EQ(SourceCloseField(m_source, healthy[0], "dropped"), 0);
  EXPECT_EQ(CountSourceEvents(m_source, "overflow"), 0);
}

// What each answer code becomes for the page: a "startPlay" or "notice" notice of the pane, or
// nothing (4004 repaints; 302 and 4002 end the stream quietly).
TEST_F(SourceFaultTest, EveryAnswerCodeReachesThePageOnce) {
  struct Case {
    int code;
    const char* event;  // "" when the page hears nothing
  };
  const std::vector<Case> cases = {{203, "startPlay"}, {4001, "startPlay"}, {4004, ""},     {302, ""},
                                   {4002, ""},         {4003, "notice"},    {500, "notice"}, {1, "notice"},
                                   {-1, "notice"},     {404, "notice"},     {2147483647, "notice"}};
  for (size_t i = 0; i < cases.size(); ++i) {
    ASSERT_EQ(DataInt(Page().Command("startPlay", PlayData(Url("code=" + std::to_string(cases[i].code) + "&pane=" +
                                                               std::to_string(i)),
                                                           static_cast<int>(i))),
                      "errorCode"),
              0);
  }
  ASSERT_TRUE(WaitUntil([&] { return CountSourceEvents(m_source, "answer") >= static_cast<int>(cases.size()); }, 30s));
  // Stopping joins every client: whatever it raised is on the page before the last reply.
  for (size_t i = 0; i < cases.size(); ++i)
    ASSERT_EQ(DataInt(Page().Command("stopPlay", StopData(static_cast<int>(i))), "errorCode"), 0);
  int startPlayNotices = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string code = std::to_string(cases[i].code);
    const bool notice = std::string(cases[i].event) == "notice";
    startPlayNotices += std::string(cases[i].event) == "startPlay";
    const auto heard = Page().All({R"("cmd":"notice")", "\"errorCode\":" + code + ",\"wndIndex\":" + std::to_string(i) + ","});
    EXPECT_EQ(heard.size(), notice ? 1u : 0u) << "code " << code;
  }
  EXPECT_EQ(Page().All({R"("cmd":"startPlay")", R"("sequence":"")"}).size(), static_cast<size_t>(startPlayNotices));
}

}  // namespace
