// Recordings and snapshots of a playing channel: names, folders, what ffprobe reads back, the
// picture's red block, and recordings that end badly (a killed process, a disk that takes no
// more). The bad endings run in a child copy of this binary, fed by the parent's source.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ChannelHarness.h"
#include "common/TextConv.h"
#include "platform/system/Shell.h"
#include "tests/support/ChildTest.h"
#include "tests/support/OpenedFolders.h"
#include "tests/support/TempFolder.h"

using namespace channeltest;
namespace fs = std::filesystem;

namespace {

constexpr const char* kChildMode = "NIMBREL_CHANNEL_CHILD";
constexpr const char* kChildUrl = "NIMBREL_CHANNEL_URL";
constexpr const char* kChildPath = "NIMBREL_CHANNEL_PATH";
constexpr const char* kLiveQuery = "codec=h264&audio=g711a&width=640&height=360";

struct Probed {
  std::string video, audio;
  int width = 0, height = 0, frames = 0;
  double duration = 0;
};

Probed Probe(const std::string& path) {
  Probed p;
  const std::string v = vxtest::Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                        "stream=codec_name,width,height,nb_read_frames -show_entries format=duration "
                                        "-of default=nw=1 '" + path + "' 2>/dev/null");
  auto value = [](const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    return at == std::string::npos ? std::string() : text.substr(at + key.size() + 1, text.find('\n', at) - at - key.size() - 1);
  };
  p.video = value(v, "codec_name");
  p.width = std::atoi(value(v, "width").c_str());
  p.height = std::atoi(value(v, "height").c_str());
  p.frames = std::atoi(value(v, "nb_read_frames").c_str());
  p.duration = std::atof(value(v, "duration").c_str());
  p.audio = value(vxtest::Capture("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of "
                                  "default=nw=1 '" + path + "' 2>/dev/null"),
                  "codec_name");
  return p;
}

// Waits until ffprobe reads at least `frames` video frames from `path` (fragments land at key frames).
bool WaitRecorded(const std::string& path, int frames) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Probe(path).frames < frames) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

class ChannelFilesTest : public ChannelTest {
 protected:
  std::unique_ptr<PlayChannel> Playing() {
    StartArgs args;
    args.query = kLiveQuery;
    auto channel = Start(args);
    EXPECT_TRUE(WaitMorePresents(5));
    return channel;
  }
  TempFolder m_folder;
  OpenedFolders m_opened;
};

TEST_F(ChannelFilesTest, RecordingsAreNamedAfterTheirCodecsAndPlay) {
  auto channel = Playing();
  // The colons of a time in the name become dots, on Linux all of them.
  const std::string asked = m_folder.File("rec/12:30:05/clip.mp4");
  const std::string folder = m_folder.File("rec/12.30.05") + "/";
  ASSERT_EQ(channel->StartRecord(Utf8ToWide(asked)), 0);
  EXPECT_TRUE(channel->IsRecording());
  const std::string first = folder + "clip_H264_G711A.mp4";
  ASSERT_TRUE(WaitRecorded(first, 50)) << first;
  EXPECT_EQ(channel->StopRecord(), 0);
  EXPECT_FALSE(channel->IsRecording());
  EXPECT_EQ(m_opened.Take(), std::vector<std::string>{folder}) << "the stop opens the recording's folder";

  // The same name again gets the counter.
  ASSERT_EQ(channel->StartRecord(Utf8ToWide(asked)), 0);
  const std::string second = folder + "clip_H264_G711A(2).mp4";
  ASSERT_TRUE(WaitRecorded(second, 25));
  channel->StopStream("");  // a stop of the stream ends the recording too
  EXPECT_EQ(m_opened.Take(), std::vector<std::string>{folder});

  for (const std::string& file : {first, second}) {
    SCOPED_TRACE(file);
    const Probed p = Probe(file);
    EXPECT_EQ(p.video, "h264");
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 360);
    EXPECT_EQ(p.audio, "aac") << "G.711 goes into MP4 as AAC";
    EXPECT_GE(p.duration, 0.9);
  }
  EXPECT_GE(Probe(first).frames, 50);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

TEST_F(ChannelFilesTest, RecordingsAndSnapshotsStayInsideTheNamedFolder) {
  auto channel = Playing();
  fs::create_directories(m_folder.File("links"));
  fs::create_symlink(m_folder.File("target.jpg"), m_folder.File("links/shot.jpg"));
  for (const std::string& bad : {std::string("relative/clip.mp4"), std::string("clip.mp4"),
                                 m_folder.File("a/../../escape.mp4"), m_folder.File("a/../b/clip.mp4")}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(channel->StartRecord(Utf8ToWide(bad)), -1);
    EXPECT_EQ(channel->CapturePicture(Utf8ToWide(bad + ".jpg")), -1);
  }
  EXPECT_EQ(channel->CapturePicture(Utf8ToWide(m_folder.File("links/shot.jpg"))), VX_ERR_FILE);
  EXPECT_FALSE(fs::exists(m_folder.File("target.jpg")));
  EXPECT_FALSE(fs::exists(m_folder.File("a")));
  EXPECT_FALSE(fs::exists(fs::path(m_folder.Path()).parent_path() / "escape.mp4"));
  channel->StopStream("");
  EXPECT_TRUE(m_opened.Take().empty());
}

TEST_F(ChannelFilesTest, SnapshotHoldsThePictureWithItsRedBlock) {
  auto channel = Playing();
  const std::string file = m_folder.File("shots/08:15.jpg");
  ASSERT_EQ(channel->CapturePicture(Utf8ToWide(file)), 0);
  const std::string written = m_folder.File("shots/08.15.jpg");
  EXPECT_EQ(m_opened.Take(), std::vector<std::string>{m_folder.File("shots") + "/"});
  // Decoded back: the picture's own size (not the pane's 320x180), red block top-left.
  const std::string rgb = vxtest::Capture("ffmpeg -v error -i '" + written + "' -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), 640u * 360 * 3);
  auto pixel = [&](int x, int y) {
    const auto* p = reinterpret_cast<const unsigned char*>(rgb.data()) + (static_cast<size_t>(y) * 640 + x) * 3;
    return vxtest::Pixel{p[2], p[1], p[0]};
  };
  EXPECT_TRUE(vxtest::Near(pixel(80, 45), 255, 0, 0, 60));
  EXPECT_TRUE(vxtest::Near(pixel(150, 80), 255, 0, 0, 60));
  EXPECT_FALSE(vxtest::Near(pixel(480, 270), 255, 0, 0, 60));
  channel->StopStream("");
  EXPECT_EQ(channel->CapturePicture(Utf8ToWide(file)), -1) << "no player, no picture";
}

// The child's side. "kill": records, says "ready" once two seconds are in the file, and waits to
// be killed. "full": records under a file-size cap (as a full disk would stop it) and checks the
// recording ends with one notice while the pictures go on.
TEST(ChannelFilesChild, Records) {
  const char* mode = std::getenv(kChildMode);
  const char* url = std::getenv(kChildUrl);
  const char* path = std::getenv(kChildPath);
  if (!mode || !url || !path) GTEST_SKIP() << "runs only as the child of the cut tests";
  const bool full = std::string(mode) == "full";
  vxtest::HeadlessOutput output;
  RecordingEvents events;
  const auto window = output.AddWindow(320, 180);
  PlayChannel channel;
  channel.SetEventSink(events);
  ASSERT_EQ(channel.StartStream(url, R"({"action":"play","data":{"channel":6}})", window, StreamDescription{},
                                false, 2, "{KEY}", 4, false),
            0);
  ASSERT_TRUE(output.WaitPresents(window, 5));
  ASSERT_EQ(channel.StartRecord(Utf8ToWide(path)), 0);
  if (full) {
    const auto notices = events.WaitNotices("notice");
    ASSERT_EQ(events.Count("notice"), 1u);
    EXPECT_EQ(notices.back().value, "-5");
    EXPECT_EQ(notices.back().camera, 6);
    EXPECT_EQ(notices.back().pane, 2);
    EXPECT_FALSE(channel.IsRecording());
    EXPECT_TRUE(output.WaitPresents(window, output.Presents(window) + 25)) << "the stream plays on";
    channel.StopStream("");
    return;
  }
  const std::string name(path);
  ASSERT_TRUE(WaitRecorded(name.substr(0, name.size() - 4) + "_H264_G711A.mp4", 50));
  AnnounceAndWait("ready");
}

ChildRun RunChild(const std::string& mode, const std::string& url, const std::string& path, int limitKiB, bool kill) {
  return RunChildTest("ChannelFilesChild.Records",
                      std::string(kChildMode) + "=" + mode + " " + kChildUrl + "='" + url + "' " + kChildPath + "='" +
                          path + "'",
                      limitKiB, kill ? "ready" : "");
}

TEST_F(ChannelFilesTest, ARecordingCutByKillStillPlays) {
  const std::string path = m_folder.File("cut/clip.mp4");
  const ChildRun run = RunChild("kill", Url(kLiveQuery), path, 0, true);
  ASSERT_NE(run.output.find("ready"), std::string::npos) << run.output;
  EXPECT_EQ(run.exitCode, 137) << "killed";
  const Probed p = Probe(m_folder.File("cut/clip_H264_G711A.mp4"));
  EXPECT_EQ(p.video, "h264");
  EXPECT_EQ(p.width, 640);
  EXPECT_GE(p.frames, 50) << "everything up to the last key frame before the kill";
}

// Progress tells the page of every frame received; a writer that lags (a busy machine) must still
// write all of them when the page stops the download right after 100.
TEST_F(ChannelFilesTest, AStopAfterFullProgressWritesEveryFrameReceived) {
  PlayChannel::Options options;
  options.onFed = [](std::uint32_t, int) { std::this_thread::sleep_for(std::chrono::milliseconds(15)); };
  PlayChannel channel(std::move(options));
  channel.SetEventSink(m_events);
  const std::string path = m_folder.File("dl/clip.mkv");
  const std::string url = "ws://127.0.0.1:" + std::to_string(m_source->Port()) +
                          "/s?mode=download&codec=h264&audio=g711a&width=320&height=240";
  const std::string request =
      R"({"action":"download","data":{"startTime":"7000","endTime":"7004","fileSize":"0","id":"d1"}})";
  ASSERT_EQ(channel.StartDownload(url, request, "d1", "7000", "7004", Utf8ToWide(path), L"0",
                                  "{KEY}"),
            0);
  ASSERT_TRUE(WaitUntil([&] {
    for (const Notice& n : m_events.WaitNotices("downloadProgress"))
      if (n.event == "downloadProgress" && n.value == "100") return true;
    return false;
  }));
  EXPECT_EQ(channel.StopDownload(R"({"action":"stop"})"), 0);
  EXPECT_EQ(Probe(m_folder.File("dl/clip_H264_G711A.mkv")).frames, 100);  // 4 s at 25 fps
}

TEST_F(ChannelFilesTest, AFullDiskEndsTheRecordingWithANotice) {
  const std::string path = m_folder.File("full/clip.mp4");
  const ChildRun run = RunChild("full", Url(kLiveQuery), path, 64, false);
  EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
  EXPECT_EQ(run.exitCode, 0) << run.output;
  const std::string file = m_folder.File("full/clip_H264_G711A.mp4");
  EXPECT_LE(fs::file_size(file), 64u * 1024);
  EXPECT_EQ(Probe(file).video, "h264") << "what fitted still plays";
}

}  // namespace
