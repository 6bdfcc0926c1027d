// The page's live and playback commands, played for real: nimbrel-source streams, the play
// channels receive and the AV library decodes and presents into the headless panes.
#include <ctime>
#include <thread>

#include "PlayFixture.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "tests/support/Sanitized.h"

using namespace platform::display;

namespace {

const std::string kLive = "codec=h264&width=640&height=360&fps=25";
const std::string kPlayback = kLive + "&mode=playback";

class StreamPlayTest : public PlayFixture {
 protected:
  // The pane's frame once it has the pane's own size and shows the source's picture.
  bool ShowsSourcePicture(int pane) {
    auto rect = m_display.GetWindowRect(Group().Pane(pane));
    if (!rect) return false;
    auto frame = WaitFrame(pane, [&](const HeadlessFrame& f) {
      return f.width == rect->Width() && f.height == rect->Height() && RedBlockInPlace(f);
    });
    return frame && frame->width == rect->Width() && RedBlockInPlace(*frame);
  }
  std::vector<int> Panes() {
    std::vector<int> panes;
    for (auto& entry : m_session->m_channels) panes.push_back(entry.first);
    return panes;
  }
  static std::string MultiItem(int pane, int channel) {
    return R"({"wndIndex":)" + std::to_string(pane) +
           R"(,"playParam":{"videoCoder":96,"audioCoder":0,"frameRate":25,"bitRate":0,"width":640,"height":360},)"
           R"("requestJson":{"action":"play","data":{"channel":)" +
           std::to_string(channel) + R"(,"sessionID":"m"}}})";
  }
  std::string MultiPlay(const std::string& cmd, const std::string& url, const std::vector<std::pair<int, int>>& items) {
    std::string param;
    for (auto [pane, channel] : items) param += (param.empty() ? "" : ",") + MultiItem(pane, channel);
    return R"({"cmd":")" + cmd + R"(","data":{"url":")" + url + R"(","param":[)" + param + "]}}";
  }
};

TEST_F(StreamPlayTest, PanesShowTheSourcePictureAtTheirOwnSize) {
  CreateGroup(4);
  EXPECT_EQ(Execute(StartText("startPlay", Url(kLive), 0, 1, "a")).ErrorCode(), 0);
  EXPECT_EQ(Execute(MultiPlay("startMultiPlay", Url(kLive), {{1, 2}, {2, 3}, {3, 4}})).ErrorCode(), 0);
  EXPECT_EQ(Panes(), (std::vector<int>{0, 1, 2, 3}));
  for (int pane = 0; pane < 4; ++pane) EXPECT_TRUE(ShowsSourcePicture(pane)) << "pane " << pane;
  EXPECT_TRUE(m_source.WaitEvent({"\"request\"", R"(\"channel\":1,\"sessionID\":\"a\")"}));
  EXPECT_TRUE(m_source.WaitEvent({"\"request\"", R"(\"channel\":4,\"sessionID\":\"m\")"}));

  // A new layout gives the panes new sizes, and the pictures follow.
  ASSERT_EQ(Execute(R"({"cmd":"arrangeWnd","data":{"arrangeType":9}})").ErrorCode(), 0);
  m_display.Flush(Group().Container());
  for (int pane = 0; pane < 4; ++pane) EXPECT_TRUE(ShowsSourcePicture(pane)) << "pane " << pane;
}

TEST_F(StreamPlayTest, StartingACameraAgainReplacesItsStreamInItsOwnPane) {
  CreateGroup(4);
  ASSERT_EQ(Execute(StartText("startPlay", Url(kLive), 1, 2, "first")).ErrorCode(), 0);
  ASSERT_TRUE(ShowsSourcePicture(1));
  const std::string firstKey = ChannelOfPane(*m_session, 1)->ChannelKey();

  // Camera 2 asked into pane 3 comes back into pane 1; its old stream hears the new session id.
  Reply replaced = Execute(StartText("startPlay", Url(kLive), 3, 2, "sec\\\"ond"));
  EXPECT_EQ(replaced.ErrorCode(), 0);
  EXPECT_EQ(Panes(), (std::vector<int>{1}));
  EXPECT_NE(ChannelOfPane(*m_session, 1)->ChannelKey(), firstKey);
  EXPECT_EQ(ChannelOfPane(*m_session, 1)->CameraChannel(), 2);
  EXPECT_TRUE(m_source.WaitEvent({"\"text\"", R"({\"action\":\"stop\",\"data\":{\"sessionID\":\"sec\\\"ond\"}})"}));
  EXPECT_TRUE(m_source.WaitEvent({"\"request\"", R"(\"sessionID\":\"sec\\\"ond\")"}));
  EXPECT_TRUE(WaitPresented(1, 5));
  EXPECT_FALSE(m_display.LastFrame(Group().Pane(3)));

  // The playback reply names the pane.
  Reply playback = Execute(StartText("startPlayBack", Url(kPlayback), 2, 7, "p"));
  EXPECT_EQ(playback.ErrorCode(), 0);
  EXPECT_EQ(playback.Int("wndIndex"), 2);
}

TEST_F(StreamPlayTest, APaneThatPlaysIsLeftAlone) {
  CreateGroup(4);
  ASSERT_EQ(Execute(StartText("startPlay", Url(kLive), 1, 1, "a")).ErrorCode(), 0);
  ASSERT_TRUE(ShowsSourcePicture(1));
  PlayChannel* playing = ChannelOfPane(*m_session, 1);

  const std::string line = "---------- Window is playing ----------";
  EXPECT_EQ(Execute(StartText("startPlayBack", Url(kPlayback), 1, 5, "b")).ErrorCode(), -1);
  EXPECT_EQ(Execute(StartText("startPlay", Url(kLive), 1, 6, "c")).ErrorCode(), -1);
  EXPECT_EQ(m_inbox.LogCount(line), 2);
  // Multi-play skips the playing pane, starts the others and answers with the last item's result.
  EXPECT_EQ(Execute(MultiPlay("startMultiPlay", Url(kLive), {{2, 8}, {1, 9}})).ErrorCode(), -1);
  EXPECT_EQ(Execute(MultiPlay("startMultiPlayBack", Url(kPlayback), {{1, 9}, {3, 10}})).ErrorCode(), 0);
  EXPECT_EQ(m_inbox.LogCount(line), 4);
  // Panes the group does not have start nothing.
  EXPECT_EQ(Execute(StartText("startPlay", Url(kLive), 64, 11, "d")).ErrorCode(), -1);
  EXPECT_EQ(Execute(StartText("startPlay", Url(kLive), -3, 12, "e")).ErrorCode(), -1);

  EXPECT_EQ(Panes(), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(ChannelOfPane(*m_session, 1), playing);
  EXPECT_TRUE(WaitPresented(1, 5));
  EXPECT_TRUE(ShowsSourcePicture(2));
}

TEST_F(StreamPlayTest, StopOneByCameraOrPaneAndAllLeavesTalkAndDownload) {
  CreateGroup(4);
  for (int pane = 0; pane < 4; ++pane)
    ASSERT_EQ(Execute(StartText("startPlay", Url(kLive), pane, 20 + pane, "s")).ErrorCode(), 0);
  for (int pane = 0; pane < 4; ++pane) ASSERT_TRUE(ShowsSourcePicture(pane));
  m_session->m_pTalk = std::make_unique<PlayChannel>();
  PlayChannel* talkChannel = m_session->m_pTalk.get();

  EXPECT_EQ(Execute(R"({"cmd":"stopPlay","data":{"channel":21,"requestJson":{"action":"stop"}}})").ErrorCode(), 0);
  EXPECT_EQ(Execute(R"({"cmd":"stopPlayBack","data":{"wndIndex":3,"requestJson":{}}})").ErrorCode(), 0);
  EXPECT_EQ(Panes(), (std::vector<int>{0, 2}));
  EXPECT_TRUE(m_source.WaitEvent({"\"text\"", R"(\"action\":\"stop\")"}));
  // The stopped pane shows no more pictures while the others go on.
  int stopped = PresentCount(1);
  EXPECT_TRUE(WaitPresented(0, 10));
  EXPECT_EQ(PresentCount(1), stopped);

  EXPECT_EQ(Execute(R"({"cmd":"stopPlay","data":{"channel":-1,"requestJson":{}}})").ErrorCode(), 0);
  EXPECT_TRUE(Panes().empty());
  EXPECT_EQ(m_session->m_pTalk.get(), talkChannel);
  // A camera nobody plays, or a pane without a channel: nothing to stop.
  EXPECT_EQ(Execute(R"({"cmd":"stopPlay","data":{"channel":5,"requestJson":{}}})").ErrorCode(), 0);
  EXPECT_EQ(Execute(R"({"cmd":"stopPlayBack","data":{"wndIndex":-1,"requestJson":{}}})").ErrorCode(), 0);
}

TEST_F(StreamPlayTest, PlaybackPausesResumesSeeksAndChangesSpeed) {
  CreateGroup(4);
  const long now = static_cast<long>(std::time(nullptr));
  const long start = now - 600, end = now - 300;
  const std::string range = R"(,"startTime":")" + std::to_string(start) + R"(","endTime":")" + std::to_string(end) + "\"";
  ASSERT_EQ(Execute(StartText("startPlayBack", Url(kPlayback), 2, 3, "p", range)).ErrorCode(), 0);
  ASSERT_TRUE(ShowsSourcePicture(2));
  const std::string pane2 = R"("wndIndex":2)";
  auto command = [&](const std::string& cmd, const std::string& requestJson) {
    return Execute(R"({"cmd":")" + cmd + R"(","data":{)" + pane2 + R"(,"requestJson":)" + requestJson + "}}");
  };
  auto osdTime = [&] { return Execute(R"({"cmd":"getOSDTime","data":{)" + pane2 + "}}").Int("osdTime"); };
  EXPECT_TRUE(WaitUntil([&] { return osdTime() >= start; }));

  EXPECT_EQ(command("pausePlayBack", R"({"action":"pause"})").ErrorCode(), 0);
  EXPECT_TRUE(m_source.WaitEvent({"\"text\"", R"(\"action\":\"pause\")", "\"applied\":true"}));
  // The picture holds: what the library had buffered is shown, then nothing more.
  ASSERT_TRUE(WaitUntil([&] {
    int before = PresentCount(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return PresentCount(2) == before;
  }));
  EXPECT_EQ(command("resumePlayBack", R"({"action":"resume"})").ErrorCode(), 0);
  EXPECT_TRUE(m_source.WaitEvent({"\"text\"", R"(\"action\":\"resume\")", "\"applied\":true"}));
  EXPECT_TRUE(WaitPresented(2, 10));

  // Right after a seek the page is shown the target, until the picture gets there.
  const long target = start + 200;
  Reply seek = command("seekPlayBack", R"({"action":"seek","data":{"seekTime":")" + std::to_string(target) + R"("}})");
  EXPECT_EQ(seek.ErrorCode(), 0);
  EXPECT_EQ(seek.Int("wndIndex"), 2);
  EXPECT_STREQ(seek.json["data"]["seekTime"].GetString(), std::to_string(target).c_str());
  EXPECT_EQ(osdTime(), target);
  EXPECT_TRUE(m_source.WaitEvent({"\"text\"", "\"seekTo\":" + std::to_string(target)}));
  EXPECT_TRUE(WaitUntil([&] {
    int t = osdTime();
    return t >= target - 3 && t <= target + 3;
  }));

  EXPECT_EQ(command("setPlaybackSpeed", R"({"action":"speed","data":{"speed":4}})").ErrorCode(), 0);
  EXPECT_TRUE(m_source.WaitEvent({"\"text\"", "\"speed\":4"}));
  // Four times as fast: the play time runs ahead of the wall clock.
  int before = osdTime();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_GE(osdTime() - before, 2);
  // Without "data" the speed stays; the text still reaches the source.
  EXPECT_EQ(command("setPlaybackSpeed", R"({"action":"speed"})").ErrorCode(), 0);
  EXPECT_TRUE(m_source.WaitEvent({"\"text\"", R"({\"action\":\"speed\"})"}));

  // Panes without a channel answer 0 and echo the request.
  Reply none = Execute(R"({"cmd":"getOSDTime","data":{"wndIndex":9,"stream":1,"speed":2,"callback":"cb"}})");
  EXPECT_EQ(none.Int("osdTime"), 0);
  EXPECT_EQ(none.Int("wndIndex"), 9);
  EXPECT_EQ(none.Int("speed"), 2);
}

TEST_F(StreamPlayTest, OpenSoundWaitsForThePlayerWithoutHoldingOtherCommands) {
  CreateGroup(4);
  // A source that never sends media: the pane never gets a player.
  ASSERT_EQ(Execute(StartText("startPlay", Url("code=4004"), 0, 1, "a")).ErrorCode(), 0);
  auto started = std::chrono::steady_clock::now();
  Reply later = Execute(R"({"cmd":"openSound","sequence":"snd","data":{"wndIndex":0}})");
  EXPECT_TRUE(later.json.IsNull());  // no answer yet
  // Other commands are answered meanwhile.
  EXPECT_EQ(Execute(R"({"cmd":"getBitRate","data":{"channel":1}})").ErrorCode(), 0);
  std::string answer = m_inbox.Wait({R"("cmd":"openSound")", R"("sequence":"snd")"}, std::chrono::seconds(10));
  EXPECT_NE(answer.find(R"("errorCode":-1)"), std::string::npos) << answer;
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1800));

  // A pane that plays (with sound from the source) gets its sound, at once or within the retries.
  ASSERT_EQ(Execute(StartText("startPlay", Url(kLive + "&audio=g711a"), 1, 2, "b")).ErrorCode(), 0);
  // A sanitizer build may take longer than the retries to open the player: there it plays first.
  if (kSanitized) {
    ASSERT_TRUE(WaitUntil([&] {
      PlayChannel* channel = ChannelOfPane(*m_session, 1);
      return channel && channel->PlayerHandle() > 0;
    }));
  }
  Reply now = Execute(R"({"cmd":"openSound","sequence":"snd2","data":{"wndIndex":1}})");
  if (now.json.IsNull()) {
    answer = m_inbox.Wait({R"("cmd":"openSound")", R"("sequence":"snd2")"}, std::chrono::seconds(10));
    EXPECT_NE(answer.find(R"("errorCode":0)"), std::string::npos) << answer;
  } else {
    EXPECT_EQ(now.ErrorCode(), 0);
  }
  EXPECT_TRUE(ChannelOfPane(*m_session, 1)->SoundOn());
  EXPECT_EQ(Execute(R"({"cmd":"closeSound"})").ErrorCode(), 0);
  EXPECT_FALSE(ChannelOfPane(*m_session, 1)->SoundOn());
  // A pane without a channel: nothing to do.
  EXPECT_EQ(Execute(R"({"cmd":"openSound","data":{"wndIndex":5}})").ErrorCode(), 0);
}

TEST_F(StreamPlayTest, SourceCodesReachThePageAsNotices) {
  CreateGroup(9);
  const struct {
    int pane;
    std::string query;
    std::vector<std::string> notice;
  } cases[] = {
      {0, "code=203", {R"({"cmd":"startPlay","data":{"errorCode":-1},"sequence":"")"}},
      {1, "code=4001", {R"({"cmd":"startPlay","data":{"errorCode":-1},"sequence":"")"}},
      {2, "code=4003", {R"({"cmd":"notice","data":{"errorCode":4003,"wndIndex":2,"channel":32},"sequence":"")"}},
      {3, "code=4777", {R"({"cmd":"notice","data":{"errorCode":4777,"wndIndex":3,"channel":33},"sequence":"")"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    ASSERT_EQ(Execute(StartText("startPlay", Url(c.query), c.pane, 30 + c.pane, "n")).ErrorCode(), 0);
    EXPECT_NE(m_inbox.Wait(c.notice), "");
  }
  EXPECT_EQ(m_inbox.Count(R"("cmd":"startPlay")"), 2);

  // A playback that reaches its end says so once, with the end time of its request.
  const std::string range = R"(,"startTime":"1000","endTime":"1001")";
  ASSERT_EQ(Execute(StartText("startPlayBack", Url(kPlayback), 5, 3, "p", range)).ErrorCode(), 0);
  EXPECT_NE(m_inbox.Wait({R"({"cmd":"playbackFileEnd","data":{"errorCode":0,"stopTime":"1001","wndIndex":5})"}), "");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(m_inbox.Count("playbackFileEnd"), 1);
}

TEST_F(StreamPlayTest, TheSessionEndsInTheMiddleOfEverything) {
  CreateGroup(4);
  const long now = static_cast<long>(std::time(nullptr));
  const std::string range = R"(,"startTime":")" + std::to_string(now - 600) + R"(","endTime":")" + std::to_string(now) + "\"";
  Execute(StartText("startPlay", Url(kLive), 0, 1, "a"));
  Execute(StartText("startPlayBack", Url(kPlayback), 1, 2, "b", range));
  Execute(StartText("startPlayBack", Url(kPlayback), 2, 3, "c", range));
  Execute(StartText("startPlay", Url("code=4004"), 3, 4, "d"));
  ASSERT_TRUE(ShowsSourcePicture(1));
  // A paused playback whose source is not told, so packets pile up; a sound retry pending; a seek
  // in flight.
  Execute(R"({"cmd":"pausePlayBack","data":{"wndIndex":1,"requestJson":{"action":"unheard"}}})");
  ASSERT_TRUE(WaitUntil([&] {
    int before = PresentCount(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return PresentCount(1) == before;
  }));
  Execute(R"({"cmd":"openSound","data":{"wndIndex":3}})");
  Execute(R"({"cmd":"seekPlayBack","data":{"wndIndex":2,"requestJson":{"action":"seek","data":{"seekTime":")" +
          std::to_string(now - 100) + R"("}}}})");

  auto started = std::chrono::steady_clock::now();
  std::unique_ptr<CSession> leaving;
  {
    std::lock_guard<std::mutex> lock(m_sessions.m_table.m_sessionsMutex);
    leaving = std::move(m_sessions.m_table.m_sessions[kSocket]);
    m_sessions.m_table.m_sessions.erase(kSocket);
  }
  leaving->m_closed = true;
  leaving.reset();
  m_session = nullptr;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  // Every connection to the source closed.
  EXPECT_TRUE(m_source.WaitEvent({"\"close\""}, 4));
}

}  // namespace
