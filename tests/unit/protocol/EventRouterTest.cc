#include <gtest/gtest.h>

#include "ProtocolFixture.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/EventRouter.h"

namespace {

// A channel as the stream engine leaves it after a start: key, camera channel, pane.
class StartedChannel : public PlayChannel {
 public:
  StartedChannel(const std::string& key, int camera, int pane) {
    m_strKey = key;
    m_nChannel = camera;
    m_nPaneIndex = pane;
  }
};

class EventRouterTest : public ::testing::Test {
 protected:
  EventRouterTest() : m_router(m_sessions.m_table, m_writer) {
    m_sessions.Add(3, "{A}");
    CSession& b = m_sessions.Add(5, "{B}");
    b.m_channels[4] = std::make_unique<StartedChannel>("play", 2, 4);
    b.m_pDownload = std::make_unique<StartedChannel>("download", -1, -1);
    b.m_pTalk = std::make_unique<StartedChannel>("talk", 6, -1);
  }

  SessionsHolder m_sessions;
  RecordingWriter m_writer;
  EventRouter m_router;
};

TEST_F(EventRouterTest, ChannelEventsBecomeNoticesOfTheOwningSession) {
  const struct {
    const char* key;
    const char* event;
    const char* value;
    int camera, pane;
    const char* notice;  // "" when nothing is sent
  } cases[] = {
      {"download", "downloadStartTime", "2024-01-02 03:04:05", -1, -1,
       R"({"cmd":"downloadStartTime","data":{"errorCode":0,"startTime":"2024-01-02 03:04:05"},"sequence":"","uuid":"{B}"})"},
      {"download", "downloadProgress", " 57%", -1, -1,
       R"({"cmd":"downloadProgress","data":{"errorCode":0,"progress":57},"sequence":"","uuid":"{B}"})"},
      {"play", "playbackFileEnd", "20240102", 2, 9,
       R"({"cmd":"playbackFileEnd","data":{"errorCode":0,"stopTime":"20240102","wndIndex":4},"sequence":"","uuid":"{B}"})"},
      {"play", "startPlay", "203", 2, 4, R"({"cmd":"startPlay","data":{"errorCode":-1},"sequence":"","uuid":"{B}"})"},
      {"play", "notice", "4005", 2, 4,
       R"({"cmd":"notice","data":{"errorCode":4005,"wndIndex":4,"channel":2},"sequence":"","uuid":"{B}"})"},
      {"talk", "startTalk", "4010", 6, -1,
       R"({"cmd":"startTalk","data":{"errorCode":-2,"channel":6},"sequence":"","uuid":"{B}"})"},
      {"talk", "startTalk", "4009", 6, -1,
       R"({"cmd":"startTalk","data":{"errorCode":-1,"channel":6},"sequence":"","uuid":"{B}"})"},
      {"talk", "startTalk", "-3", 6, -1,
       R"({"cmd":"startTalk","data":{"errorCode":-3,"channel":6},"sequence":"","uuid":"{B}"})"},
      // A channel only answers from its own slot, and a key nobody owns any more is dropped.
      {"play", "downloadProgress", "5", -1, -1, ""},
      {"talk", "startPlay", "203", 6, -1, ""},
      {"gone", "notice", "1", 0, 0, ""},
      {"play", "somethingElse", "1", 2, 4, ""},
      {"", "notice", "1", 0, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + c.event);
    m_writer.m_sent.clear();
    m_router.OnChannelEvent(c.key, c.event, c.value, c.camera, c.pane);
    if (*c.notice) {
      ASSERT_EQ(m_writer.m_sent.size(), 1u);
      EXPECT_EQ(m_writer.m_sent[0].text, c.notice);
    } else {
      EXPECT_TRUE(m_writer.m_sent.empty());
    }
  }
}

TEST_F(EventRouterTest, ResourceNoticeReachesEveryOpenSession) {
  m_sessions.Add(9, "{C}").m_closed = true;
  EXPECT_EQ(m_router.NotifyAllSessions(EventRouter::ResourceNotice()), 2);
  ASSERT_EQ(m_writer.m_sent.size(), 2u);
  EXPECT_EQ(m_writer.m_sent[0].text,
            R"({"cmd":"notice","data":{"errorCode":1,"wndIndex":-1,"channel":-1},"sequence":"","uuid":"{A}"})");
  EXPECT_EQ(m_writer.m_sent[1].uuid, "{B}");
}

TEST(ChannelLookupTest, CameraChannelsSelectInPaneOrder) {
  SessionsHolder sessions;
  CSession& session = sessions.Add(1, "{S}");
  session.m_channels[7] = std::make_unique<StartedChannel>("a", 2, 7);
  session.m_channels[3] = std::make_unique<StartedChannel>("b", 2, 3);
  session.m_channels[5] = std::make_unique<StartedChannel>("c", -2, 5);
  EXPECT_EQ(ChannelOfCamera(session, 2), session.m_channels[3].get());
  EXPECT_EQ(ChannelOfCamera(session, -2), session.m_channels[5].get());
  EXPECT_EQ(ChannelOfPane(session, 4), nullptr);
  EXPECT_EQ(CameraChannelOfPane(session, 7), 2);
  EXPECT_EQ(CameraChannelOfPane(session, 4), -1);
  for (int c : {-2, -1, 64, 70}) EXPECT_FALSE(IsCameraChannel(c)) << c;
  for (int c : {0, 63}) EXPECT_TRUE(IsCameraChannel(c)) << c;
}

}  // namespace
