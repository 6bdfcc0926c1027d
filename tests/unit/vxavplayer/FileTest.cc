// Recordings, downloads and snapshots, checked by reading the files back with ffprobe.
#include <gtest/gtest.h>

#include <thread>

#include "ExpectVideo.h"
#include "MediaFixtures.h"
#include "VXAVPlayer.h"
#include "common/TextConv.h"

using namespace vxtest;

namespace {


StreamDescription Frame(int video, int audio, int kind) {
  StreamDescription d{};
  d.videoCodec = static_cast<uint16_t>(video);
  d.audioCodec = static_cast<uint16_t>(audio);
  d.frameRate = 25;
  d.kind = static_cast<uint16_t>(kind);
  d.streamMode = VX_MODE_LIVE;
  return d;
}

// 20 ms G.711 blocks of a tone, made by ffmpeg.
std::vector<Unit> AlawBlocks(const TempDir& dir, int seconds) {
  const std::string path = dir.Path("tone.al");
  if (!Run("ffmpeg -y -nostdin -v error -f lavfi -i sine=f=440:r=8000 -t " + std::to_string(seconds) +
           " -f alaw \"" + path + "\"")) {
    return {};
  }
  std::vector<Unit> blocks;
  const auto all = ReadUnits(path);
  Unit bytes;
  for (const auto& u : all) bytes.insert(bytes.end(), u.begin(), u.end());
  for (size_t i = 0; i + 160 <= bytes.size(); i += 160) blocks.emplace_back(bytes.begin() + i, bytes.begin() + i + 160);
  return blocks;
}

class VxFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_window = m_output.AddWindow(176, 144);
    m_video = m_dir.Path("src.h264");
    ASSERT_TRUE(MakeVideo(m_video, "testsrc=s=176x144:r=25", 50, "-c:v libx264 -g 10"));
    m_units = ReadUnits(m_video);
    ASSERT_EQ(m_units.size(), 50u);
    m_audio = AlawBlocks(m_dir, 2);
    ASSERT_EQ(m_audio.size(), 100u);
  }
  // Feeds video units from `first` on, with two 20 ms audio blocks after each (25 fps).
  void FeedInterleaved(VX_HANDLE handle, size_t first, bool download) {
    const StreamDescription video = Frame(VX_CODEC_H264, VX_CODEC_G711A, 0);
    const StreamDescription audio = Frame(VX_CODEC_H264, VX_CODEC_G711A, 1);
    for (size_t i = first; i < m_units.size(); ++i) {
      Send(handle, m_units[i], video, download);
      Send(handle, m_audio[2 * i], audio, download);
      Send(handle, m_audio[2 * i + 1], audio, download);
    }
  }
  static void Send(VX_HANDLE handle, const Unit& unit, const StreamDescription& d, bool download) {
    const auto size = static_cast<int32_t>(unit.size());
    if (download) {
      ASSERT_EQ(VX_InputRecordData(handle, unit.data(), size, &d), VX_OK);
      return;
    }
    int r;
    while ((r = VX_InputData(handle, unit.data(), size, &d, 0)) == VX_ERR_BUFFER_FULL) std::this_thread::yield();
    ASSERT_EQ(r, VX_OK);
  }

  HeadlessOutput m_output;
  VX_WINDOW m_window = 0;
  TempDir m_dir;
  std::string m_video;
  std::vector<Unit> m_units;
  std::vector<Unit> m_audio;
};

TEST_F(VxFileTest, RecordingStartedMidGopPlaysInEveryContainer) {
  struct Case {
    const char* ext;
    const char* audioCodec;  // what the container ends up holding
  } cases[] = {{"mp4", "aac"}, {"mkv", "aac"}, {"ts", "aac"}, {"avi", "pcm_alaw"}, {"mov", "pcm_alaw"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ext);
    VX_HANDLE handle = -1;
    const StreamDescription open = Frame(VX_CODEC_H264, VX_CODEC_G711A, 0);
    ASSERT_EQ(VX_OpenStream(&open, &handle, m_window, 0), VX_OK);
    ASSERT_EQ(VX_Play(handle, m_window, 0), VX_OK);
    const std::string path = m_dir.Path(std::string("rec.") + c.ext);
    ASSERT_EQ(VX_StartRecord(handle, path.c_str(), nullptr, 25), VX_OK);
    FeedInterleaved(handle, 3, false);  // frames 3..9 precede the next key frame at 10
    WaitDrained(handle);
    ASSERT_EQ(VX_StopRecord(handle), VX_OK);
    ASSERT_EQ(VX_CloseStream(handle), VX_OK);

    ExpectVideo(path, "h264", 176, 144, 40, 1.6);
    const ProbeResult audio = Probe(path, "a");
    EXPECT_EQ(audio.codec, c.audioCodec);
  }
}

TEST_F(VxFileTest, DownloadWriterKeepsEveryFrame) {
  const std::string path = m_dir.Path("download.avi");
  StreamDescription open = Frame(VX_CODEC_H264, VX_CODEC_G711A, 0);
  VX_HANDLE handle = -1;
  ASSERT_EQ(VX_OpenStreamRecord(path.c_str(), &open, &handle), VX_OK);
  FeedInterleaved(handle, 0, true);
  ASSERT_EQ(VX_CloseStreamRecord(handle), VX_OK);
  EXPECT_EQ(VX_CloseStreamRecord(handle), VX_ERR_HANDLE);
  const ProbeResult video = Probe(path, "v");
  EXPECT_EQ(video.codec, "h264");
  EXPECT_EQ(video.frames, 50);
  EXPECT_NEAR(video.duration, 2.0, 0.15);
  EXPECT_EQ(Probe(path, "a").codec, "pcm_alaw");

  // A stream that names no audio codec at the start still gets the audio that comes later.
  const std::string late = m_dir.Path("late.mp4");
  open.audioCodec = 0;
  ASSERT_EQ(VX_OpenStreamRecord(late.c_str(), &open, &handle), VX_OK);
  FeedInterleaved(handle, 0, true);
  ASSERT_EQ(VX_CloseStreamRecord(handle), VX_OK);
  EXPECT_EQ(Probe(late, "v").frames, 50);
  const ProbeResult lateAudio = Probe(late, "a");
  EXPECT_EQ(lateAudio.codec, "aac");

  // Paths and containers that cannot take the stream are refused at open.
  VX_HANDLE other = 7;
  EXPECT_EQ(VX_OpenStreamRecord(m_dir.Path("no/such/folder/x.mkv").c_str(), &open, &other), VX_ERR_FILE);
  EXPECT_EQ(other, -1);
  EXPECT_LT(VX_OpenStreamRecord(m_dir.Path("x.unknownext").c_str(), &open, &other), 0);
  EXPECT_EQ(VX_OpenStreamRecord(nullptr, &open, &other), VX_ERR_PARAM);
}

TEST_F(VxFileTest, SnapshotWritesTheLastPictureAtItsOwnSize) {
  VX_HANDLE handle = -1;
  const StreamDescription open = Frame(VX_CODEC_H264, 0, 0);
  ASSERT_EQ(VX_OpenStream(&open, &handle, m_window, 0), VX_OK);
  m_output.Resize(m_window, 640, 480);
  ASSERT_EQ(VX_Play(handle, m_window, 0), VX_OK);
  const StreamDescription video = Frame(VX_CODEC_H264, 0, 0);
  for (size_t i = 0; i < 12; ++i) Send(handle, m_units[i], video, false);
  WaitDrained(handle);
  const struct {
    const char* name;
    const char* codec;
  } cases[] = {{"shot.jpg", "mjpeg"}, {"shot.PNG", "png"}, {"shot.bmp", "bmp"}};
  for (const auto& c : cases) {
    const std::string path = m_dir.Path(c.name);
    ASSERT_EQ(VX_SnapshotW(handle, Utf8ToWide(path).c_str(), 0), VX_OK) << c.name;
    const ProbeResult picture = Probe(path, "v");
    EXPECT_EQ(picture.codec, c.codec);
    EXPECT_EQ(picture.width, 176);
    EXPECT_EQ(picture.height, 144);
  }
  EXPECT_EQ(VX_SnapshotW(handle, Utf8ToWide(m_dir.Path("shot.gifx")).c_str(), 0), VX_ERR_PARAM);
  VX_CloseStream(handle);
}

}  // namespace
