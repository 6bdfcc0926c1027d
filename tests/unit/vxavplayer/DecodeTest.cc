// Decoding, presentation, backpressure and bad input through the C interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>
#include <mutex>
#include <vector>

#include "MediaFixtures.h"
#include "VXAVPlayer.h"

using namespace vxtest;

namespace {


StreamDescription Describe(int videoCodec, int mode = VX_MODE_LIVE) {
  StreamDescription d{};
  d.videoCodec = static_cast<uint16_t>(videoCodec);
  d.frameRate = 25;
  d.streamMode = static_cast<uint16_t>(mode);
  return d;
}

StreamDescription FrameOf(int videoCodec, uint32_t time) {
  StreamDescription d = Describe(videoCodec);
  d.frameTime = time;
  return d;
}

struct Decoded {
  std::mutex mutex;
  std::vector<uint32_t> times;
  int lastWidth = 0;
  static void Call(VX_HANDLE, const uint8_t*, int32_t, int32_t width, int32_t, int32_t, const uint32_t* info,
                   void* user) {
    auto* self = static_cast<Decoded*>(user);
    if (info[3] != 0) return;
    std::lock_guard<std::mutex> lock(self->mutex);
    self->times.push_back(info[2]);
    self->lastWidth = width;
  }
};

// Feeds every unit, retrying while the library's buffer is full; one at a time, as a live source
// hands them over (a live stream that falls behind shows only its newest picture).
void Feed(VX_HANDLE handle, const std::vector<Unit>& units, int codec, uint32_t firstTime) {
  uint32_t time = firstTime;
  for (const auto& unit : units) {
    const StreamDescription frame = FrameOf(codec, time++);
    int result;
    while ((result = VX_InputData(handle, unit.data(), static_cast<int32_t>(unit.size()), &frame, 0)) ==
           VX_ERR_BUFFER_FULL) {
      std::this_thread::yield();
    }
    ASSERT_EQ(result, VX_OK);
    int32_t buffered = 1;
    while (VX_GetVideoBufferInfo(handle, nullptr, &buffered, nullptr) == VX_OK && buffered != 0) {
      std::this_thread::yield();
    }
  }
}

class VxDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override { m_window = m_output.AddWindow(320, 240); }
  HeadlessOutput m_output;
  VX_WINDOW m_window = 0;
  TempDir m_dir;
};

struct CodecCase {
  const char* name;
  int code;
  const char* file;
  const char* args;
  const char* colour;
  int r, g, b;
  uint8_t dxva;
};

TEST_F(VxDecodeTest, EachCodecDecodesEveryFrameWithItsTimeAndShowsTheColour) {
  const CodecCase cases[] = {
      {"h264", VX_CODEC_H264, "a.h264", "-c:v libx264 -g 10", "red", 255, 0, 0, 0},
      {"h265", VX_CODEC_H265, "a.hevc", "-c:v libx265 -x265-params log-level=error:keyint=10", "lime", 0, 255, 0, 0},
      {"mjpeg", VX_CODEC_MJPEG, "a.avi", "-c:v mjpeg -pix_fmt yuvj420p", "blue", 0, 0, 255, 0},
      // Hardware decoding where the machine has it, software where not: the same pictures.
      {"h264 dxva", VX_CODEC_H264, "b.h264", "-c:v libx264 -g 10", "yellow", 255, 255, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = m_dir.Path(c.file);
    ASSERT_TRUE(MakeVideo(path, std::string("color=c=") + c.colour + ":s=176x144:r=25", 30, c.args));
    const auto units = ReadUnits(path);
    ASSERT_EQ(units.size(), 30u);

    Decoded decoded;
    VX_HANDLE handle = -1;
    const StreamDescription open = Describe(c.code);
    ASSERT_EQ(VX_OpenStream(&open, &handle, m_window, c.dxva), VX_OK);
    ASSERT_EQ(VX_Play(handle, m_window, 0), VX_OK);
    ASSERT_EQ(VX_SetDecodeCallBack(handle, &Decoded::Call, &decoded), VX_OK);
    const int before = m_output.Presents(m_window);
    Feed(handle, units, c.code, 1000);
    // Decoders hold back a few pictures until more units come. Each picture carries the time of
    // the unit it came from, once (pictures come in display order, so sort before comparing).
    ASSERT_TRUE(m_output.WaitPresents(m_window, before + 25));
    {
      std::lock_guard<std::mutex> lock(decoded.mutex);
      ASSERT_GE(decoded.times.size(), 25u);
      auto times = decoded.times;
      std::sort(times.begin(), times.end());
      EXPECT_EQ(std::unique(times.begin(), times.end()), times.end());
      EXPECT_GE(times.front(), 1000u);
      EXPECT_LT(times.back(), 1030u);
      EXPECT_EQ(decoded.lastWidth, 176);
    }
    EXPECT_EQ(m_output.LastWidth(m_window), 320);  // scaled to the window
    EXPECT_TRUE(Near(m_output.At(m_window, 160, 120), c.r, c.g, c.b));
    EXPECT_EQ(VX_CloseStream(handle), VX_OK);
  }
}

TEST_F(VxDecodeTest, CodecAndSizeChangeMidStreamShowTheNewPicture) {
  const std::string first = m_dir.Path("a.h264");
  const std::string second = m_dir.Path("b.hevc");
  ASSERT_TRUE(MakeVideo(first, "color=c=red:s=352x288:r=25", 10, "-c:v libx264"));
  ASSERT_TRUE(MakeVideo(second, "color=c=blue:s=176x144:r=25", 10, "-c:v libx265 -x265-params log-level=error"));
  Decoded decoded;
  VX_HANDLE handle = -1;
  const StreamDescription open = Describe(VX_CODEC_H264);
  ASSERT_EQ(VX_OpenStream(&open, &handle, m_window, 0), VX_OK);
  ASSERT_EQ(VX_Play(handle, m_window, 0), VX_OK);
  VX_SetDecodeCallBack(handle, &Decoded::Call, &decoded);
  Feed(handle, ReadUnits(first), VX_CODEC_H264, 0);
  Feed(handle, ReadUnits(second), VX_CODEC_H265, 10);
  Feed(handle, ReadUnits(second), VX_CODEC_H265, 20);  // pushes the held-back pictures out
  // The first stream drains whole when the codec changes.
  ASSERT_TRUE(m_output.WaitPresents(m_window, 15));
  {
    std::lock_guard<std::mutex> lock(decoded.mutex);
    ASSERT_GE(decoded.times.size(), 15u);
    EXPECT_EQ(*std::max_element(decoded.times.begin(), decoded.times.begin() + 10), 9u);
    EXPECT_EQ(*std::min_element(decoded.times.begin() + 10, decoded.times.end()), 10u);
    EXPECT_EQ(decoded.lastWidth, 176);
  }
  EXPECT_TRUE(Near(m_output.At(m_window, 10, 10), 0, 0, 255));
  VX_CloseStream(handle);
}

TEST_F(VxDecodeTest, FullBufferAnswersBusyAndDrainsAfterResume) {
  const std::string path = m_dir.Path("a.h264");
  ASSERT_TRUE(MakeVideo(path, "testsrc=s=176x144:r=25", 60, "-c:v libx264"));
  const auto units = ReadUnits(path);
  VX_HANDLE handle = -1;
  const StreamDescription open = Describe(VX_CODEC_H264, VX_MODE_PLAYBACK);
  ASSERT_EQ(VX_OpenStream(&open, &handle, m_window, 0), VX_OK);
  ASSERT_EQ(VX_Play(handle, m_window, 0), VX_OK);
  ASSERT_EQ(VX_Pause(handle, 1), VX_OK);
  ASSERT_EQ(VX_SetSpeed(handle, 16), VX_OK);  // fast: the drain below takes no time
  int accepted = 0;
  int result = VX_OK;
  for (const auto& unit : units) {
    const StreamDescription frame = FrameOf(VX_CODEC_H264, accepted);
    result = VX_InputData(handle, unit.data(), static_cast<int32_t>(unit.size()), &frame, 0);
    if (result != VX_OK) break;
    ++accepted;
  }
  EXPECT_EQ(result, VX_ERR_BUFFER_FULL);
  EXPECT_GT(accepted, 0);
  int32_t decoded = -1, buffered = -1, shown = -1;
  ASSERT_EQ(VX_GetVideoBufferInfo(handle, &decoded, &buffered, &shown), VX_OK);
  EXPECT_EQ(buffered, accepted);
  EXPECT_EQ(decoded, 0);

  ASSERT_EQ(VX_Pause(handle, 0), VX_OK);
  ASSERT_TRUE(m_output.WaitPresents(m_window, accepted - 3));
  // Everything handed over has left the buffer.
  do {
    VX_GetVideoBufferInfo(handle, &decoded, &buffered, &shown);
    std::this_thread::yield();
  } while (buffered != 0);
  EXPECT_GE(shown, accepted - 3);
  VX_CloseStream(handle);
}

// A live stream whose pictures pile up (a machine short of CPU) decodes them all but shows only the
// newest, and at least every 13th.
TEST_F(VxDecodeTest, LiveStreamBehindShowsItsNewestPicture) {
  const std::string path = m_dir.Path("a.h264");
  ASSERT_TRUE(MakeVideo(path, "testsrc=s=176x144:r=25", 30, "-c:v libx264 -bf 0"));
  const auto units = ReadUnits(path);
  ASSERT_EQ(units.size(), 30u);
  for (int mode : {VX_MODE_LIVE, VX_MODE_PLAYBACK}) {
    SCOPED_TRACE(mode);
    VX_HANDLE handle = -1;
    const StreamDescription open = Describe(VX_CODEC_H264, mode);
    ASSERT_EQ(VX_OpenStream(&open, &handle, m_window, 0), VX_OK);
    ASSERT_EQ(VX_Play(handle, m_window, 0), VX_OK);
    ASSERT_EQ(VX_SetSpeed(handle, 16), VX_OK);  // playback: paced, but quickly
    ASSERT_EQ(VX_Pause(handle, 1), VX_OK);      // the backlog builds up
    uint32_t time = 0;
    for (const auto& unit : units) {
      const StreamDescription frame = FrameOf(VX_CODEC_H264, time++);
      ASSERT_EQ(VX_InputData(handle, unit.data(), static_cast<int32_t>(unit.size()), &frame, 0), VX_OK);
    }
    const int before = m_output.Presents(m_window);
    ASSERT_EQ(VX_Pause(handle, 0), VX_OK);
    int32_t decoded = 0, buffered = 1, shown = 0;
    while (VX_GetVideoBufferInfo(handle, &decoded, &buffered, &shown) == VX_OK && buffered != 0) {
      std::this_thread::yield();
    }
    EXPECT_EQ(decoded, 30);
    // Live: pictures 13, 26 and the last; playback shows every picture at its pace.
    const int expected = mode == VX_MODE_LIVE ? 3 : 30;
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(m_output.Presents(m_window) - before, expected);
    EXPECT_EQ(VX_CloseStream(handle), VX_OK);
  }
}

TEST_F(VxDecodeTest, CropShowsOnlyThePartAndRefreshPresentsAgain) {
  const std::string path = m_dir.Path("a.h264");
  // Left half red, right half blue.
  ASSERT_TRUE(MakeVideo(path, "color=c=red:s=176x144:r=25,drawbox=x=88:y=0:w=88:h=144:c=blue:t=fill", 5,
                        "-c:v libx264 -bf 0"));
  VX_HANDLE handle = -1;
  const StreamDescription open = Describe(VX_CODEC_H264);
  ASSERT_EQ(VX_OpenStream(&open, &handle, m_window, 0), VX_OK);
  ASSERT_EQ(VX_Play(handle, m_window, 0), VX_OK);
  const VX_RECT left{0, 0, 80, 144};
  ASSERT_EQ(VX_ShowRect(handle, &left), VX_OK);
  Feed(handle, ReadUnits(path), VX_CODEC_H264, 0);
  ASSERT_TRUE(m_output.WaitPresents(m_window, 3));
  EXPECT_TRUE(Near(m_output.At(m_window, 310, 120), 255, 0, 0));

  ASSERT_EQ(VX_ShowRect(handle, nullptr), VX_OK);
  const int before = m_output.Presents(m_window);
  ASSERT_EQ(VX_Refresh(handle), VX_OK);
  ASSERT_TRUE(m_output.WaitPresents(m_window, before + 1));
  EXPECT_TRUE(Near(m_output.At(m_window, 310, 120), 0, 0, 255));
  EXPECT_TRUE(Near(m_output.At(m_window, 10, 120), 255, 0, 0));

  const VX_RECT empty{50, 50, 50, 60};
  EXPECT_EQ(VX_ShowRect(handle, &empty), VX_ERR_PARAM);
  VX_CloseStream(handle);
}

TEST_F(VxDecodeTest, BadInputAndUnknownHandlesAnswerErrors) {
  VX_HANDLE handle = -1;
  const StreamDescription open = Describe(VX_CODEC_H264);
  ASSERT_EQ(VX_OpenStream(&open, &handle, m_window, 0), VX_OK);
  EXPECT_GT(handle, 0);
  const std::vector<uint8_t> garbage(500, 0xA5);
  const uint8_t annexB[] = {0, 0, 0, 1, 0x65, 0x88, 0x80, 0x10};
  const StreamDescription h264 = FrameOf(VX_CODEC_H264, 0);
  const StreamDescription unknown = FrameOf(77, 0);
  const StreamDescription mjpeg = FrameOf(VX_CODEC_MJPEG, 0);
  struct InputCase {
    const char* name;
    const uint8_t* data;
    int32_t size;
    const StreamDescription* frame;
    int32_t expected;
  } inputs[] = {
      {"garbage", garbage.data(), 500, &h264, VX_ERR_PARAM},
      {"zero size", annexB, 0, &h264, VX_ERR_PARAM},
      {"negative size", annexB, -5, &h264, VX_ERR_PARAM},
      {"null data", nullptr, 8, &h264, VX_ERR_PARAM},
      {"null description", annexB, 8, nullptr, VX_ERR_PARAM},
      {"unknown codec", annexB, 8, &unknown, VX_ERR_CODEC},
      {"H.264 said to be MJPEG", annexB, 8, &mjpeg, VX_ERR_PARAM},
      {"broken but well-framed unit", annexB, 8, &h264, VX_OK},
  };
  for (const auto& c : inputs) {
    EXPECT_EQ(VX_InputData(handle, c.data, c.size, c.frame, 0), c.expected) << c.name;
  }
  EXPECT_EQ(VX_Play(handle, 0, 0), VX_ERR_PARAM);
  EXPECT_EQ(VX_Play(handle, 0xDEAD, 0), VX_ERR_PARAM);  // no such window
  EXPECT_EQ(VX_SnapshotW(handle, L"/tmp/x.jpg", 0), VX_ERR_STATE);  // nothing decoded yet
  EXPECT_EQ(VX_CloseStream(handle), VX_OK);

  StreamDescription bad = Describe(77);
  VX_HANDLE other = 5;
  EXPECT_EQ(VX_OpenStream(&bad, &other, m_window, 0), VX_ERR_CODEC);
  EXPECT_EQ(other, -1);
  EXPECT_EQ(VX_OpenStream(nullptr, &other, m_window, 0), VX_ERR_PARAM);

  // The closed handle and never-issued ones are refused by every entry point.
  for (VX_HANDLE h : {handle, VX_HANDLE{-1}, VX_HANDLE{0}, VX_HANDLE{123456789}}) {
    int32_t a, b, c;
    const VX_RECT r{0, 0, 10, 10};
    EXPECT_EQ(VX_Play(h, m_window, 0), VX_ERR_HANDLE);
    EXPECT_EQ(VX_SetDrawCallBack(h, nullptr, nullptr), VX_ERR_HANDLE);
    EXPECT_EQ(VX_SetDecodeCallBack(h, nullptr, nullptr), VX_ERR_HANDLE);
    EXPECT_EQ(VX_InputData(h, annexB, 8, &h264, 0), VX_ERR_HANDLE);
    EXPECT_EQ(VX_GetVideoBufferInfo(h, &a, &b, &c), VX_ERR_HANDLE);
    EXPECT_EQ(VX_Pause(h, 1), VX_ERR_HANDLE);
    EXPECT_EQ(VX_SetSpeed(h, 1), VX_ERR_HANDLE);
    EXPECT_EQ(VX_OpenSound(h), VX_ERR_HANDLE);
    EXPECT_EQ(VX_CloseSound(h), VX_ERR_HANDLE);
    EXPECT_EQ(VX_StartRecord(h, "/tmp/x.mp4", nullptr, 25), VX_ERR_HANDLE);
    EXPECT_EQ(VX_StopRecord(h), VX_ERR_HANDLE);
    EXPECT_EQ(VX_SnapshotW(h, L"/tmp/x.jpg", 0), VX_ERR_HANDLE);
    EXPECT_EQ(VX_ShowRect(h, &r), VX_ERR_HANDLE);
    EXPECT_EQ(VX_Refresh(h), VX_ERR_HANDLE);
    EXPECT_EQ(VX_CloseStream(h), VX_ERR_HANDLE);
    EXPECT_EQ(VX_InputRecordData(h, annexB, 8, &h264), VX_ERR_HANDLE);
    EXPECT_EQ(VX_CloseStreamRecord(h), VX_ERR_HANDLE);
    EXPECT_EQ(VX_SetAVDataCallBack(h, nullptr, nullptr), VX_ERR_HANDLE);
    EXPECT_EQ(VX_StartCaptureSound(h), VX_ERR_HANDLE);
    EXPECT_EQ(VX_StopCaptureSound(h), VX_ERR_HANDLE);
    EXPECT_EQ(VX_CloseCaptureSound(h), VX_ERR_HANDLE);
  }
}

TEST_F(VxDecodeTest, ClosingInsideItsOwnCallbackIsSafe) {
  const std::string path = m_dir.Path("a.h264");
  ASSERT_TRUE(MakeVideo(path, "testsrc=s=176x144:r=25", 5, "-c:v libx264 -bf 0"));
  struct Closer {
    std::atomic<VX_HANDLE> handle{-1};
    std::atomic<int> closed{0};
    std::mutex mutex;
    std::condition_variable done;
  } closer;
  VX_HANDLE handle = -1;
  const StreamDescription open = Describe(VX_CODEC_H264);
  ASSERT_EQ(VX_OpenStream(&open, &handle, m_window, 0), VX_OK);
  closer.handle = handle;
  VX_SetDecodeCallBack(
      handle,
      [](VX_HANDLE h, const uint8_t*, int32_t, int32_t, int32_t, int32_t, const uint32_t*, void* user) {
        auto* self = static_cast<Closer*>(user);
        if (VX_CloseStream(h) == VX_OK) {
          std::lock_guard<std::mutex> lock(self->mutex);
          ++self->closed;
          self->done.notify_all();
        }
      },
      &closer);
  const StreamDescription frame = FrameOf(VX_CODEC_H264, 0);
  for (const auto& unit : ReadUnits(path)) {  // later units meet a closed handle
    VX_InputData(handle, unit.data(), static_cast<int32_t>(unit.size()), &frame, 0);
  }
  std::unique_lock<std::mutex> lock(closer.mutex);
  ASSERT_TRUE(closer.done.wait_for(lock, std::chrono::seconds(30), [&] { return closer.closed > 0; }));
  EXPECT_EQ(closer.closed.load(), 1);
}

TEST_F(VxDecodeTest, DrawCallbackMayCropAndSnapshotItsOwnStream) {
  const std::string path = m_dir.Path("a.h264");
  ASSERT_TRUE(MakeVideo(path, "testsrc=s=176x144:r=25", 5, "-c:v libx264 -bf 0"));
  struct Drawer {
    VX_HANDLE handle = -1;
    std::string snapshot;
    std::atomic<int> snapshots{0};
  } drawer;
  drawer.snapshot = m_dir.Path("in-draw.png");
  const StreamDescription open = Describe(VX_CODEC_H264);
  ASSERT_EQ(VX_OpenStream(&open, &drawer.handle, m_window, 0), VX_OK);
  ASSERT_EQ(VX_Play(drawer.handle, m_window, 0), VX_OK);
  VX_SetDrawCallBack(
      drawer.handle,
      [](int32_t, void* canvas, void* user) {
        auto* self = static_cast<Drawer*>(user);
        const VX_RECT half{0, 0, 88, 72};
        VX_ShowRect(self->handle, &half);
        std::wstring wide(self->snapshot.begin(), self->snapshot.end());
        if (canvas != nullptr && VX_SnapshotW(self->handle, wide.c_str(), 0) == VX_OK) ++self->snapshots;
      },
      &drawer);
  Feed(drawer.handle, ReadUnits(path), VX_CODEC_H264, 0);
  ASSERT_TRUE(m_output.WaitPresents(m_window, 5));
  EXPECT_EQ(drawer.snapshots.load(), 5);
  EXPECT_EQ(Probe(drawer.snapshot, "v").width, 176);
  VX_CloseStream(drawer.handle);
}

}  // namespace
