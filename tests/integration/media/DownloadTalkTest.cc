// Downloads and talk through the real service, from a page's commands to the files on disk and
// the audio the source receives: progress notices, the sealing trailer checked with md5sum, the
// talk notices, and pages that go away in the middle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "PageClient.h"
#include "ServiceProcess.h"
#include "tests/integration/source/SourceProcess.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using sourcetest::SourceProcess;

std::string EventOf(const rapidjson::Document& d) {
  return d.HasMember("event") && d["event"].IsString() ? d["event"].GetString() : "";
}
std::int64_t IntOf(const rapidjson::Document& d, const char* key) {
  return d.HasMember(key) && d[key].IsInt64() ? d[key].GetInt64() : -1;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What md5sum says of the file without its last 128 bytes, and the MD5 its trailer carries.
struct Sealed {
  bool hasTrailer = false;
  std::string bodyMd5;
  std::string trailerMd5;
};
Sealed ReadSealed(const std::string& path) {
  Sealed s;
  const std::string all = ReadAll(path);
  if (all.size() < 128 || all.compare(all.size() - 128, 6, "MIRVAN") != 0) return s;
  s.hasTrailer = true;
  const std::string body = path + ".body";
  std::ofstream(body, std::ios::binary) << all.substr(0, all.size() - 128);
  s.bodyMd5 = RunCommand("md5sum '" + body + "' | cut -c1-32");
  if (!s.bodyMd5.empty() && s.bodyMd5.back() == '\n') s.bodyMd5.pop_back();
  for (size_t i = 0; i < 32; ++i) s.trailerMd5 += all[all.size() - 128 + 7 + 3 * i];
  fs::remove(body);
  return s;
}

// Video frames ffprobe decodes from a file (the trailer after the last fragment is ignored).
int ProbeFrames(const std::string& path, std::string* codec = nullptr) {
  const std::string out = RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                     "stream=codec_name,nb_read_frames -of default=nw=1 '" + path + "' 2>/dev/null");
  if (codec) {
    const size_t at = out.find("codec_name=");
    *codec = at == std::string::npos ? "" : out.substr(at + 11, out.find('\n', at) - at - 11);
  }
  const size_t at = out.find("nb_read_frames=");
  return at == std::string::npos ? 0 : std::atoi(out.c_str() + at + 15);
}

class DownloadTalkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_source = new SourceProcess("--port 0");
    s_sourceUp = s_source->Started();
    s_service = StartService("NIMBREL_CAPTURE=tone NIMBREL_NO_PULSE=1");
  }
  static void TearDownTestSuite() {
    if (s_service) EXPECT_EQ(s_service->StopAndTakeSanitizerReport(), "");
    delete s_service;
    delete s_source;
    s_service = nullptr;
    s_source = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(s_sourceUp) << "nimbrel-source did not start";
    ASSERT_TRUE(s_service) << "the service did not start";
  }

  static ServiceProcess* StartService(const std::string& environment) {
    auto* service = new ServiceProcess();
    service->SetEnvironment(environment);
    if (service->Start()) return service;
    delete service;
    return nullptr;
  }
  static std::unique_ptr<PageClient> Page(ServiceProcess& service) {
    auto page = std::make_unique<PageClient>();
    return page->Open(service.Port()) ? std::move(page) : nullptr;
  }
  static std::string Url(const std::string& query) {
    return "ws://127.0.0.1:" + std::to_string(s_source->Port()) + "/s?" + query;
  }
  // The source's number for the connection whose URL carried `query` (-1 when none came).
  static std::int64_t ConnectionOf(const std::string& query) {
    auto line = s_source->WaitFor([&](const rapidjson::Document& d) {
      return EventOf(d) == "connect" && d["target"].IsString() &&
             std::string(d["target"].GetString()).find(query) != std::string::npos;
    });
    if (!line) return -1;
    rapidjson::Document d;
    d.Parse(line->c_str());
    return IntOf(d, "conn");
  }
  // The source's talkAudio line of connection `conn` once `messages` had come.
  static std::optional<std::string> TalkAudio(std::int64_t conn, int messages) {
    return s_source->WaitFor([&](const rapidjson::Document& d) {
      return EventOf(d) == "talkAudio" && IntOf(d, "conn") == conn && IntOf(d, "messages") >= messages;
    });
  }
  static std::string DownloadData(const std::string& url, const std::string& file, const std::string& size,
                                  const std::string& start = "7000", const std::string& end = "7004") {
    return R"({"url":)" + Quoted(url) + R"(,"fileName":)" + Quoted(file) +
           R"(,"requestJson":{"action":"download","data":{"startTime":")" + start + R"(","endTime":")" + end +
           R"(","fileSize":")" + size + R"(","id":"d1"}}})";
  }
  static std::string TalkData(const std::string& url, const std::string& encodeType, int channel = 1) {
    return R"({"url":)" + Quoted(url) + R"(,"requestJson":{"action":"talk","data":{"channel":)" +
           std::to_string(channel) + R"(,"encodeType":")" + encodeType + R"("}}})";
  }
  // Starts a download; the page's texts from then on.
  static size_t StartDownload(PageClient& page, const std::string& data) {
    const size_t from = page.Received();
    const std::string reply = page.Command("startDownload", data);
    EXPECT_EQ(DataInt(reply, "errorCode"), 0) << reply;
    return from;
  }
  // The progress values of the page's downloadProgress notices since `from`, in order, up to the
  // first 100.
  static std::vector<int> ProgressUntilEnd(PageClient& page, size_t from) {
    if (page.Wait({"\"downloadProgress\"", "\"progress\":100"}, std::chrono::seconds(30), from).empty()) return {};
    std::vector<int> values;
    for (const std::string& text : page.All({"\"cmd\":\"downloadProgress\""}, from)) {
      values.push_back(DataInt(text, "progress"));
      if (values.back() == 100) break;
    }
    return values;
  }

  static SourceProcess* s_source;
  static bool s_sourceUp;
  static ServiceProcess* s_service;
  TempFolder m_folder;
};
SourceProcess* DownloadTalkTest::s_source = nullptr;
bool DownloadTalkTest::s_sourceUp = false;
ServiceProcess* DownloadTalkTest::s_service = nullptr;

// Progress only rises, stays below 100 until the source's end, and ends with exactly one 100.
void ExpectProgressRule(const std::vector<int>& values) {
  ASSERT_FALSE(values.empty());
  EXPECT_EQ(values.back(), 100);
  for (size_t i = 0; i + 1 < values.size(); ++i) {
    EXPECT_LT(values[i], 100) << "at notice " << i;
    if (i > 0) EXPECT_GE(values[i], values[i - 1]) << "at notice " << i;
  }
}

TEST_F(DownloadTalkTest, FrameDownloadReportsProgressAndIsSealed) {
  auto page = Page(*s_service);
  ASSERT_TRUE(page);
  // Colons in the name become dots; the writer's file carries the codec tags.
  const std::string asked = m_folder.File("dl/12:30:05/clip.mkv");
  const size_t from =
      StartDownload(*page, DownloadData(Url("mode=download&codec=h264&audio=g711a&width=320&height=240"), asked, "0"));
  EXPECT_EQ(DataString(page->Wait({"\"downloadStartTime\""}), "startTime"), "7000");
  const std::vector<int> progress = ProgressUntilEnd(*page, from);
  ExpectProgressRule(progress);
  EXPECT_GT(progress.size(), 3u) << "four seconds of frames report along the way";
  ASSERT_EQ(DataInt(page->Command("stopDownload", R"({"requestJson":{"action":"stop"}})"), "errorCode"), 0);

  const std::string file = m_folder.File("dl/12.30.05/clip_H264_G711A.mkv");
  ASSERT_TRUE(fs::exists(file)) << "written as " << file;
  const Sealed sealed = ReadSealed(file);
  ASSERT_TRUE(sealed.hasTrailer);
  EXPECT_EQ(sealed.bodyMd5, sealed.trailerMd5);
  std::string codec;
  EXPECT_EQ(ProbeFrames(file, &codec), 100);  // 4 s at 25 fps
  EXPECT_EQ(codec, "h264");
}

TEST_F(DownloadTalkTest, WholeFileDownloadRisesTo100OnlyAtTheEnd) {
  auto page = Page(*s_service);
  ASSERT_TRUE(page);
  const std::string url = Url("mode=download&container=mp4&codec=h265&width=320&height=240");
  // The page does not know the size: progress stays 0 until the end, never divided by zero.
  const std::string first = m_folder.File("whole/a.mp4");
  const std::vector<int> unknown = ProgressUntilEnd(*page, StartDownload(*page, DownloadData(url, first, "0")));
  ExpectProgressRule(unknown);
  for (size_t i = 0; i + 1 < unknown.size(); ++i) EXPECT_EQ(unknown[i], 0);
  ASSERT_EQ(DataInt(page->Command("stopDownload", R"({"requestJson":{}})"), "errorCode"), 0);
  const Sealed sealedFirst = ReadSealed(first);
  ASSERT_TRUE(sealedFirst.hasTrailer);
  EXPECT_EQ(sealedFirst.bodyMd5, sealedFirst.trailerMd5);
  const auto size = fs::file_size(first) - 128;
  std::string codec;
  EXPECT_EQ(ProbeFrames(first, &codec), 100);
  EXPECT_EQ(codec, "hevc");

  // With the size known it rises through the percentages, and 99 is as far as bytes go.
  auto again = Page(*s_service);
  ASSERT_TRUE(again);
  const std::string second = m_folder.File("whole/b.mp4");
  const std::vector<int> known =
      ProgressUntilEnd(*again, StartDownload(*again, DownloadData(url, second, std::to_string(size))));
  ExpectProgressRule(known);
  ASSERT_GE(known.size(), 3u);
  EXPECT_EQ(known[known.size() - 2], 99);
  again->Command("stopDownload", R"({"requestJson":{}})");
  EXPECT_EQ(ReadAll(second).substr(0, size), ReadAll(first).substr(0, size)) << "the same bytes as the source's file";
}

TEST_F(DownloadTalkTest, ASecondDownloadSealsTheFirstAndPathsStayInTheirFolder) {
  auto page = Page(*s_service);
  ASSERT_TRUE(page);
  // Paced: still running when the next one starts.
  const std::string slow = Url("mode=download&container=mp4&pace=1&codec=h264&width=320&height=240");
  const std::string first = m_folder.File("next/first.mp4");
  StartDownload(*page, DownloadData(slow, first, "0", "7000", "7060"));
  ASSERT_FALSE(page->Wait({"\"downloadStartTime\""}).empty());
  const std::string second = m_folder.File("next/second.mp4");
  const std::string fast = Url("mode=download&container=mp4");
  const size_t from = StartDownload(*page, DownloadData(fast, second, "0"));
  const Sealed sealed = ReadSealed(first);
  EXPECT_TRUE(sealed.hasTrailer) << "the first download was stopped and sealed before the second began";
  EXPECT_EQ(sealed.bodyMd5, sealed.trailerMd5);
  ProgressUntilEnd(*page, from);
  page->Command("stopDownload", R"({"requestJson":{}})");
  EXPECT_TRUE(ReadSealed(second).hasTrailer);

  // The same name again leaves the earlier file as it was: the new one takes the counter.
  const std::string before = ReadAll(second);
  ProgressUntilEnd(*page, StartDownload(*page, DownloadData(fast, second, "0")));
  page->Command("stopDownload", R"({"requestJson":{}})");
  EXPECT_EQ(ReadAll(second), before);
  EXPECT_TRUE(ReadSealed(m_folder.File("next/second(2).mp4")).hasTrailer);

  // Names the service refuses: relative, leading out of the folder with "..", or a link.
  fs::create_directories(m_folder.File("links"));
  fs::create_symlink(m_folder.File("elsewhere.mp4"), m_folder.File("links/clip.mp4"));
  // A name that only contains ".mp4" gets no source bytes as they come: a frame download needs a
  // container it names, and ".desktop" is none.
  for (const std::string& bad : {std::string("relative/clip.mp4"), m_folder.File("a/../../escape.mkv"),
                                  m_folder.File("links/clip.mp4"), m_folder.File("evil.mp4.desktop")}) {
    SCOPED_TRACE(bad);
    const size_t from = page->Received();
    const std::string reply = page->Command("startDownload", DownloadData(fast, bad, "0"));
    if (DataInt(reply, "errorCode") == 0) {
      ProgressUntilEnd(*page, from);
      page->Command("stopDownload", R"({"requestJson":{}})");
    }
  }
  EXPECT_FALSE(fs::exists(m_folder.File("elsewhere.mp4")));
  EXPECT_FALSE(fs::exists(fs::path(m_folder.Path()).parent_path() / "escape.mkv"));
  EXPECT_FALSE(fs::exists(m_folder.File("a")));
  for (const auto& entry : fs::directory_iterator(m_folder.Path()))
    EXPECT_NE(entry.path().filename().string().rfind("evil", 0), 0u) << entry.path();
}

TEST_F(DownloadTalkTest, TalkSendsAudioThatDecodesInEveryEncoding) {
  struct Case {
    const char* encodeType;
    int codecByte;            // what the source sees at offset 28
    int samplesPerMessage;    // what it decodes them to (MP2 travels labelled A-law: not checked)
  } cases[] = {{"G711A", 1, 160}, {"G711U", 2, 160}, {"AAC", 39, 1024}, {"MP2L2", 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encodeType);
    auto page = Page(*s_service);
    ASSERT_TRUE(page);
    const std::string query = std::string("mode=talk&audio=g711a&case=") + c.encodeType;
    const std::string reply = page->Command("startTalk", TalkData(Url(query), c.encodeType, 4));
    ASSERT_EQ(DataInt(reply, "errorCode"), 0) << reply;
    EXPECT_EQ(DataInt(reply, "channel"), 4);
    const std::int64_t conn = ConnectionOf(query);
    const auto line = TalkAudio(conn, 25);
    ASSERT_TRUE(line) << "25 blocks come within about a second of tone";
    ASSERT_EQ(DataInt(page->Command("stopTalk", R"({"requestJson":{"action":"stop"}})"), "errorCode"), 0);
    rapidjson::Document d;
    d.Parse(line->c_str());
    EXPECT_EQ(IntOf(d, "codec"), c.codecByte);
    EXPECT_EQ(IntOf(d, "badLength"), 0) << "the length field matches every payload";
    if (c.samplesPerMessage > 0) EXPECT_EQ(IntOf(d, "samples"), c.samplesPerMessage * IntOf(d, "messages"));
    EXPECT_TRUE(s_source->WaitForEvent("close", conn)) << "stopTalk ends the connection";
  }
}

TEST_F(DownloadTalkTest, TalkRefusalsAndSilenceReachThePage) {
  auto page = Page(*s_service);
  ASSERT_TRUE(page);
  struct Case {
    int code;
    int errorCode;
  } cases[] = {{4009, -1}, {4010, -2}, {4011, 4011}};
  for (const auto& c : cases) {
    ASSERT_EQ(DataInt(page->Command("startTalk", TalkData(Url("mode=talk&code=" + std::to_string(c.code)), "G711A", 3)),
                      "errorCode"),
              0);
    const std::string notice = page->Wait({"\"cmd\":\"startTalk\"", "\"sequence\":\"\"",
                                           "\"errorCode\":" + std::to_string(c.errorCode) + ","});
    ASSERT_FALSE(notice.empty()) << c.code;
    EXPECT_EQ(DataInt(notice, "channel"), 3);
  }
  page->Command("stopTalk", R"({"requestJson":{}})");

  // A machine whose microphone gives nothing: "-3" every 2 s until the talk stops.
  ServiceProcess* silent = StartService("NIMBREL_NO_PULSE=1");
  ASSERT_TRUE(silent);
  {
    auto quiet = Page(*silent);
    ASSERT_TRUE(quiet);
    ASSERT_EQ(DataInt(quiet->Command("startTalk", TalkData(Url("mode=talk"), "AAC", 2)), "errorCode"), 0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_FALSE(quiet->Wait({"\"cmd\":\"startTalk\"", "\"errorCode\":-3"}, std::chrono::seconds(10)).empty());
    const auto first = std::chrono::steady_clock::now();
    quiet->Wait({"\"cmd\":\"startTalk\"", "\"errorCode\":-3", "NO-SUCH-PART"}, std::chrono::milliseconds(4500));
    const auto notices = quiet->All({"\"cmd\":\"startTalk\"", "\"errorCode\":-3"});
    EXPECT_GE(notices.size(), 3u) << "one per 2 s period";
    EXPECT_LE(notices.size(), 4u);
    EXPECT_NEAR(std::chrono::duration<double>(first - start).count(), 2.0, 0.6);
    EXPECT_EQ(DataInt(notices.front(), "channel"), 2);
    quiet->Command("stopTalk", R"({"requestJson":{}})");
    const size_t stopped = quiet->All({"\"errorCode\":-3"}).size();
    quiet->Wait({"NO-SUCH-PART"}, std::chrono::milliseconds(2500));
    EXPECT_EQ(quiet->All({"\"errorCode\":-3"}).size(), stopped) << "nothing after stopTalk";
  }
  EXPECT_EQ(silent->StopAndTakeSanitizerReport(), "");
  delete silent;
}

TEST_F(DownloadTalkTest, APageClosingMidDownloadAndTalkLeavesASealedFileAndAWorkingService) {
  const std::string file = m_folder.File("closing/clip.mp4");
  {
    auto page = Page(*s_service);
    ASSERT_TRUE(page);
    const std::string slow = Url("mode=download&container=mp4&pace=1&width=320&height=240");
    StartDownload(*page, DownloadData(slow, file, "0", "7000", "7060"));
    ASSERT_EQ(DataInt(page->Command("startTalk", TalkData(Url("mode=talk&audio=g711a&case=closing"), "G711A")),
                      "errorCode"),
              0);
    ASSERT_FALSE(page->Wait({"\"downloadProgress\""}).empty());
    ASSERT_TRUE(TalkAudio(ConnectionOf("mode=talk&audio=g711a&case=closing"), 25));
    page->Close();
  }
  // The service lets both go with the page: the download is sealed, the talk connection ends.
  auto next = Page(*s_service);
  ASSERT_TRUE(next) << "the service still takes pages";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!ReadSealed(file).hasTrailer && std::chrono::steady_clock::now() < deadline) {
    next->Wait({"NO-SUCH-PART"}, std::chrono::milliseconds(100));
  }
  const Sealed sealed = ReadSealed(file);
  ASSERT_TRUE(sealed.hasTrailer);
  EXPECT_EQ(sealed.bodyMd5, sealed.trailerMd5);
  EXPECT_GT(ProbeFrames(file), 0) << "the part downloaded plays";
  EXPECT_TRUE(s_source->WaitForEvent("close", ConnectionOf("case=closing")));
}

}  // namespace
