// Audio decoding and output, and encoded capture blocks.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "MediaFixtures.h"
#include "VXAVPlayer.h"

using namespace vxtest;

namespace {

struct Blocks {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Unit> blocks;
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(30), [&] { return blocks.size() >= count; });
  }
  static void OnData(int32_t, const uint8_t* data, int32_t length, int32_t, void* user) {
    auto* self = static_cast<Blocks*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->blocks.emplace_back(data, data + length);
    self->arrived.notify_all();
  }
};

struct Pcm {
  std::mutex mutex;
  std::condition_variable arrived;
  long samples = 0;
  int lastBytes = 0;
  static void OnDecoded(VX_HANDLE, const uint8_t*, int32_t size, int32_t, int32_t, int32_t, const uint32_t* info,
                        void* user) {
    if (info[3] != 1) return;
    auto* self = static_cast<Pcm*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->samples += size / 2;
    self->lastBytes = size;
    self->arrived.notify_all();
  }
};

class VxAudioTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("NIMBREL_CAPTURE", "tone", 1);
    setenv("NIMBREL_NO_PULSE", "1", 1);  // the null sink, whatever the machine has
  }
};

// Each capture code yields blocks of its own format, which the player decodes back.
TEST_F(VxAudioTest, CaptureBlocksDecodeBackThroughAPlayer) {
  struct Case {
    const char* name;
    int code;
    size_t blockSize;  // 0: variable
    uint8_t sync0, syncMask1, sync1;
    int label;     // the code the blocks are fed back with
    int pcmBytes;  // 16-bit mono PCM per decoded block
  } cases[] = {
      {"G.711 A-law", VX_CODEC_G711A, 160, 0, 0, 0, VX_CODEC_G711A, 320},
      {"G.711 u-law", VX_CODEC_G711U, 160, 0, 0, 0, VX_CODEC_G711U, 320},
      {"AAC", VX_CODEC_AAC, 0, 0xFF, 0xF0, 0xF0, VX_CODEC_AAC, 2048},
      // The talk command names AAC 39: captured and played back under that code.
      {"AAC as talk names it", VX_CODEC_AAC_TALK, 0, 0xFF, 0xF0, 0xF0, VX_CODEC_AAC_TALK, 2048},
      {"MP2", VX_CODEC_MP2, 0, 0xFF, 0xE0, 0xE0, VX_CODEC_MP2, 2304},
      // Talk audio in MP2 arrives labelled A-law; it must still decode as MP2 (1152 samples).
      {"MP2 as A-law", VX_CODEC_MP2, 0, 0xFF, 0xE0, 0xE0, VX_CODEC_G711A, 2304},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Blocks blocks;
    VX_HANDLE capture = -1;
    ASSERT_EQ(VX_OpenCaptureSound(&capture, c.code, 8000, 16, 1), VX_OK);
    ASSERT_EQ(VX_SetAVDataCallBack(capture, &Blocks::OnData, &blocks), VX_OK);
    ASSERT_EQ(VX_StartCaptureSound(capture), VX_OK);
    ASSERT_TRUE(blocks.WaitFor(6));
    ASSERT_EQ(VX_StopCaptureSound(capture), VX_OK);
    ASSERT_EQ(VX_CloseCaptureSound(capture), VX_OK);
    EXPECT_EQ(VX_CloseCaptureSound(capture), VX_ERR_HANDLE);

    std::lock_guard<std::mutex> lock(blocks.mutex);
    for (const auto& b : blocks.blocks) {
      if (c.blockSize != 0) {
        EXPECT_EQ(b.size(), c.blockSize);
      } else {
        ASSERT_GT(b.size(), 4u);
        EXPECT_EQ(b[0], c.sync0);
        EXPECT_EQ(b[1] & c.syncMask1, c.sync1);
      }
    }

    // Played back (talk mode: no window, sound on) the blocks come out as PCM.
    Pcm pcm;
    StreamDescription open{};
    open.videoCodec = VX_CODEC_H264;
    open.audioCodec = static_cast<uint16_t>(c.label);
    open.kind = 1;
    VX_HANDLE player = -1;
    ASSERT_EQ(VX_OpenStream(&open, &player, 0, 0), VX_OK);
    ASSERT_EQ(VX_OpenSound(player), VX_OK);
    VX_SetDecodeCallBack(player, &Pcm::OnDecoded, &pcm);
    for (const auto& b : blocks.blocks) {
      ASSERT_EQ(VX_InputData(player, b.data(), static_cast<int32_t>(b.size()), &open, 0), VX_OK);
    }
    {
      std::unique_lock<std::mutex> wait(pcm.mutex);
      ASSERT_TRUE(pcm.arrived.wait_for(wait, std::chrono::seconds(30), [&] { return pcm.samples >= 500; }));
    }
    {
      std::lock_guard<std::mutex> held(pcm.mutex);
      EXPECT_EQ(pcm.lastBytes, c.pcmBytes);
    }
    EXPECT_EQ(VX_CloseSound(player), VX_OK);
    EXPECT_EQ(VX_CloseStream(player), VX_OK);
  }
}

TEST_F(VxAudioTest, CaptureRefusesWhatItCannotDo) {
  VX_HANDLE handle = 3;
  EXPECT_EQ(VX_OpenCaptureSound(&handle, 99, 8000, 16, 1), VX_ERR_CODEC);
  EXPECT_EQ(handle, -1);
  EXPECT_EQ(VX_OpenCaptureSound(&handle, VX_CODEC_G711A, 8000, 8, 1), VX_ERR_PARAM);
  EXPECT_EQ(VX_OpenCaptureSound(&handle, VX_CODEC_G711A, 0, 16, 1), VX_ERR_PARAM);
  EXPECT_EQ(VX_OpenCaptureSound(nullptr, VX_CODEC_G711A, 8000, 16, 1), VX_ERR_PARAM);
  // A capture handle is not a stream handle.
  ASSERT_EQ(VX_OpenCaptureSound(&handle, VX_CODEC_G711A, 8000, 16, 1), VX_OK);
  EXPECT_EQ(VX_CloseStream(handle), VX_ERR_HANDLE);
  EXPECT_EQ(VX_CloseCaptureSound(handle), VX_OK);
}

}  // namespace
