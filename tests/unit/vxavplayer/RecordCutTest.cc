// Recordings that end badly: a writer killed mid-way, a disk that takes no more, a stream that
// never sends a key frame, a link at the file's name. The cut cases run in a child copy of this
// test binary, so the kill and the file-size limit hit only the child.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ExpectVideo.h"
#include "MediaFixtures.h"
#include "VXAVPlayer.h"
#include "common/TextConv.h"
#include "tests/support/ChildTest.h"

using namespace vxtest;

namespace {

constexpr const char* kChildMode = "NIMBREL_RECORD_CHILD";
constexpr const char* kChildPath = "NIMBREL_RECORD_PATH";
constexpr const char* kChildSource = "NIMBREL_RECORD_SOURCE";  // the parent's test media

StreamDescription VideoFrame() {
  StreamDescription d{};
  d.videoCodec = VX_CODEC_H264;
  d.frameRate = 25;
  d.streamMode = VX_MODE_LIVE;
  return d;
}

// 50 H.264 units of 176x144, a key frame every 10, in `path`.
std::vector<Unit> TestUnits(const std::string& path) {
  if (!MakeVideo(path, "testsrc=s=176x144:r=25", 50, "-c:v libx264 -g 10")) return {};
  return ReadUnits(path);
}

void Feed(VX_HANDLE handle, const std::vector<Unit>& units, size_t first, size_t end) {
  const StreamDescription d = VideoFrame();
  for (size_t i = first; i < end; ++i) {
    int r;
    while ((r = VX_InputData(handle, units[i].data(), static_cast<int32_t>(units[i].size()), &d, 0)) ==
           VX_ERR_BUFFER_FULL) {
      std::this_thread::yield();
    }
    ASSERT_EQ(r, VX_OK);
  }
}

struct RecordEnd {
  std::atomic<int> calls{0};
  std::atomic<int> code{0};
  static void OnEnd(VX_HANDLE, int32_t code, void* user) {
    auto* self = static_cast<RecordEnd*>(user);
    self->code = code;
    ++self->calls;
  }
};

// The child's side: records into the path it is given. "kill": feeds everything, says "ready"
// and waits to be killed. "full": runs into a file-size limit (as a full disk would stop it) and
// checks the recording ended with one report and no crash.
TEST(VxRecordChild, Records) {
  const char* mode = std::getenv(kChildMode);
  const char* path = std::getenv(kChildPath);
  const char* source = std::getenv(kChildSource);
  if (mode == nullptr || path == nullptr || source == nullptr) GTEST_SKIP() << "runs only as the child of the cut tests";
  const auto units = ReadUnits(source);
  ASSERT_EQ(units.size(), 50u);
  const bool full = std::string(mode) == "full";
  const StreamDescription open = VideoFrame();
  VX_HANDLE handle = -1;
  ASSERT_EQ(VX_OpenStream(&open, &handle, 0, 0), VX_OK);
  RecordEnd end;
  ASSERT_EQ(VX_SetRecordCallBack(handle, &RecordEnd::OnEnd, &end), VX_OK);
  ASSERT_EQ(VX_StartRecord(handle, path, nullptr, 25), VX_OK);
  for (int pass = 0; pass < (full ? 8 : 1); ++pass) Feed(handle, units, 0, units.size());
  WaitDrained(handle);
  if (full) {
    EXPECT_EQ(end.calls.load(), 1);
    EXPECT_EQ(end.code.load(), VX_ERR_FILE);
    EXPECT_EQ(VX_StopRecord(handle), VX_OK);  // already ended: nothing left to stop
    EXPECT_EQ(VX_CloseStream(handle), VX_OK);
    return;
  }
  AnnounceAndWait("ready");
}

class VxRecordCutTest : public ::testing::Test {
 protected:
  ChildRun RunChild(const std::string& mode, const std::string& path, int limitKiB, bool kill) {
    const std::string source = m_dir.Path("src.h264");
    EXPECT_EQ(TestUnits(source).size(), 50u);
    return RunChildTest("VxRecordChild.Records",
                        std::string(kChildMode) + "=" + mode + " " + kChildPath + "='" + path + "' " + kChildSource +
                            "='" + source + "'",
                        limitKiB, kill ? "ready" : "");
  }
  TempDir m_dir;
};

TEST_F(VxRecordCutTest, KilledWriterLeavesAPlayableFragmentedFile) {
  const std::string path = m_dir.Path("cut.mp4");
  const ChildRun run = RunChild("kill", path, 0, true);
  ASSERT_NE(run.output.find("ready"), std::string::npos) << run.output;
  EXPECT_EQ(run.exitCode, 137) << "killed";
  // Fragments end at key frames (every 10 frames); the one open at the kill is lost.
  ExpectVideo(path, "h264", 176, 144, 40, 1.6);
}

TEST_F(VxRecordCutTest, FullDiskEndsTheRecordingWithOneReport) {
  const std::string path = m_dir.Path("full.mp4");
  const ChildRun run = RunChild("full", path, 40, false);
  EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_LE(std::filesystem::file_size(path), 40u * 1024);
  const ProbeResult video = Probe(path, "v");
  EXPECT_EQ(video.codec, "h264");
  EXPECT_GT(video.frames, 0);
}

TEST_F(VxRecordCutTest, NoKeyFrameLeavesNoFileAndLinksAreRefused) {
  const auto units = TestUnits(m_dir.Path("src.h264"));
  ASSERT_EQ(units.size(), 50u);
  const StreamDescription open = VideoFrame();
  VX_HANDLE handle = -1;
  ASSERT_EQ(VX_OpenStream(&open, &handle, 0, 0), VX_OK);

  // Frames 1..9 hold no key frame: the recording never starts and leaves nothing.
  const std::string never = m_dir.Path("never.mp4");
  ASSERT_EQ(VX_StartRecord(handle, never.c_str(), nullptr, 25), VX_OK);
  Feed(handle, units, 1, 10);
  WaitDrained(handle);
  ASSERT_EQ(VX_StopRecord(handle), VX_OK);
  EXPECT_FALSE(std::filesystem::exists(never));

  // A file that was there before is left as it was.
  const std::string kept = m_dir.Path("kept.ts");
  std::ofstream(kept) << "earlier bytes";
  ASSERT_EQ(VX_StartRecord(handle, kept.c_str(), nullptr, 25), VX_OK);
  ASSERT_EQ(VX_StopRecord(handle), VX_OK);
  EXPECT_EQ(std::filesystem::file_size(kept), 13u);

  // A link at the name is never written through, neither by a recording nor a snapshot.
  const std::string target = m_dir.Path("target.bin");
  std::ofstream(target) << "target";
  const std::string link = m_dir.Path("link.mp4");
  std::filesystem::create_symlink(target, link);
  EXPECT_EQ(VX_StartRecord(handle, link.c_str(), nullptr, 25), VX_ERR_FILE);
  Feed(handle, units, 0, 12);
  WaitDrained(handle);
  const std::string picture = m_dir.Path("link.jpg");
  std::filesystem::create_symlink(target, picture);
  EXPECT_EQ(VX_SnapshotW(handle, Utf8ToWide(picture).c_str(), 0), VX_ERR_FILE);
  EXPECT_EQ(std::filesystem::file_size(target), 6u);

  // Containers that would write files of their own choosing are refused.
  EXPECT_LT(VX_StartRecord(handle, m_dir.Path("list.m3u8").c_str(), nullptr, 25), 0);
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path("list.m3u8")));
  EXPECT_EQ(VX_CloseStream(handle), VX_OK);
}

}  // namespace
