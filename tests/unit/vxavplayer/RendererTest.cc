// The renderer's two ways to the display: YUV handed over for the display to convert, and BGRA
// converted here. Both must show the same picture, and the second must catch every refusal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "MediaFixtures.h"
#include "vxavplayer/src/Renderer.h"

using namespace vxtest;
using platform::display::DrawCall;
using platform::display::HeadlessFrame;
using platform::display::PresentResult;

namespace {

// A picture with gradients in every plane and a block of another colour, so that a misplaced
// crop, a wrong range or swapped chroma all show in the pixels.
vxav::FramePtr MakePicture(AVPixelFormat format, int width, int height) {
  vxav::FramePtr frame = vxav::MakeFrame();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  auto inBlock = [&](int x, int y) { return x >= width / 2 && x < width * 3 / 4 && y >= height / 4 && y < height / 2; };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      frame->data[0][y * frame->linesize[0] + x] = static_cast<std::uint8_t>(inBlock(x, y) ? 60 : 20 + 215 * x / width);
  const bool nv12 = format == AV_PIX_FMT_NV12, full = format == AV_PIX_FMT_YUV422P;  // full: chroma rows
  const int chromaHeight = full ? height : (height + 1) / 2;
  for (int y = 0; y < chromaHeight; ++y) {
    for (int x = 0; x < (width + 1) / 2; ++x) {
      const int lumaY = full ? y : y * 2;
      const bool b = inBlock(x * 2, lumaY);
      const auto u = static_cast<std::uint8_t>(b ? 90 : 80 + 100 * lumaY / height);
      const auto v = static_cast<std::uint8_t>(b ? 220 : 170 - 80 * x * 2 / width);
      if (nv12) {
        frame->data[1][y * frame->linesize[1] + 2 * x] = u;
        frame->data[1][y * frame->linesize[1] + 2 * x + 1] = v;
      } else {
        frame->data[1][y * frame->linesize[1] + x] = u;
        frame->data[2][y * frame->linesize[2] + x] = v;
      }
    }
  }
  return frame;
}

struct Difference {
  double mean = 0;       // mean absolute difference per channel
  double farShare = 0;   // share of channel values more than 16 apart
};

Difference Compare(const HeadlessFrame& a, const HeadlessFrame& b) {
  Difference d;
  if (a.width != b.width || a.height != b.height || a.bgra.size() != b.bgra.size() || a.bgra.empty()) {
    d.mean = d.farShare = 1e9;
    return d;
  }
  long far = 0, count = 0;
  for (size_t i = 0; i < a.bgra.size(); ++i) {
    if (i % 4 == 3) continue;
    const int diff = std::abs(a.bgra[i] - b.bgra[i]);
    d.mean += diff;
    far += diff > 16;
    ++count;
  }
  d.mean /= count;
  d.farShare = static_cast<double>(far) / count;
  return d;
}

bool Present(vxav::Renderer& renderer, const AVFrame* frame, platform::display::WindowId window,
             const VX_RECT* crop = nullptr, const std::function<void(void*)>& overlay = nullptr) {
  return renderer.Present(frame, crop, window, overlay);
}

class RendererTest : public ::testing::Test {
 protected:
  HeadlessOutput m_output;
};

TEST_F(RendererTest, DisplayConvertedYuvMatchesTheCpuPath) {
  struct Case {
    const char* name;
    AVPixelFormat format;
    int windowWidth, windowHeight;
    bool crop;
  };
  const VX_RECT zoom{30, 20, 130, 100};
  for (const Case c : {Case{"I420 up", AV_PIX_FMT_YUV420P, 320, 240, false},
                       Case{"I420 down", AV_PIX_FMT_YUV420P, 100, 70, false},
                       Case{"I420 zoomed", AV_PIX_FMT_YUV420P, 320, 240, true},
                       Case{"I420 full range", AV_PIX_FMT_YUVJ420P, 200, 150, false},
                       Case{"NV12", AV_PIX_FMT_NV12, 320, 240, false},
                       Case{"NV12 zoomed", AV_PIX_FMT_NV12, 150, 110, true}}) {
    SCOPED_TRACE(c.name);
    const auto picture = MakePicture(c.format, 176, 144);
    ASSERT_TRUE(picture);
    const auto yuvWindow = m_output.AddWindow(c.windowWidth, c.windowHeight);
    const auto bgraWindow = m_output.AddWindow(c.windowWidth, c.windowHeight);
    vxav::Renderer renderer;
    m_output.RefuseYuv(PresentResult::Shown);
    ASSERT_TRUE(Present(renderer, picture.get(), yuvWindow, c.crop ? &zoom : nullptr));
    m_output.RefuseYuv(PresentResult::Unsupported);
    ASSERT_TRUE(Present(renderer, picture.get(), bgraWindow, c.crop ? &zoom : nullptr));
    const auto yuv = m_output.LastFrame(yuvWindow), bgra = m_output.LastFrame(bgraWindow);
    ASSERT_TRUE(yuv && bgra);
    EXPECT_TRUE(yuv->yuv);
    EXPECT_FALSE(bgra->yuv);
    EXPECT_EQ(yuv->width, c.windowWidth);
    const Difference d = Compare(*yuv, *bgra);
    EXPECT_LT(d.mean, 2.5);
    EXPECT_LT(d.farShare, 0.02);
  }
}

// Whatever the backend answers, or whatever the picture, the pane gets its picture (and its
// overlay once).
TEST_F(RendererTest, FallsBackToBgraWhenYuvIsNotTaken) {
  struct Case {
    const char* name;
    AVPixelFormat format;
    PresentResult answer;
    int times;                  // of the refusal
    bool switchedOff;           // NIMBREL_VIDEO_YUV=0
    bool firstYuv, secondYuv;   // how the first and the second picture were shown
    int yuvCalls;               // PresentYuv calls for the two pictures
  };
  for (const Case c : {Case{"taken", AV_PIX_FMT_YUV420P, PresentResult::Shown, 0, false, true, true, 2},
                       Case{"refused", AV_PIX_FMT_YUV420P, PresentResult::Unsupported, -1, false, false, false, 2},
                       Case{"failed once", AV_PIX_FMT_YUV420P, PresentResult::Failed, 1, false, false, true, 2},
                       Case{"4:2:2", AV_PIX_FMT_YUV422P, PresentResult::Shown, 0, false, false, false, 0},
                       Case{"switched off", AV_PIX_FMT_YUV420P, PresentResult::Shown, 0, true, false, false, 0}}) {
    SCOPED_TRACE(c.name);
    if (c.switchedOff) setenv("NIMBREL_VIDEO_YUV", "0", 1);
    vxav::Renderer renderer;
    unsetenv("NIMBREL_VIDEO_YUV");
    const auto picture = MakePicture(c.format, 64, 48);
    const auto window = m_output.AddWindow(64, 48);
    m_output.RefuseYuv(c.answer, c.times);
    const int callsBefore = m_output.YuvCalls();
    int overlays = 0;
    auto overlay = [&overlays](void* canvas) {
      ++overlays;
      static_cast<platform::display::ICanvas*>(canvas)->DrawRectangle(platform::display::MakeRect(2, 2, 10, 10),
                                                                      std::nullopt, platform::display::MakeColor(255, 0, 0));
    };
    for (const bool expectYuv : {c.firstYuv, c.secondYuv}) {
      ASSERT_TRUE(Present(renderer, picture.get(), window, nullptr, overlay));
      const auto frame = m_output.LastFrame(window);
      ASSERT_TRUE(frame);
      EXPECT_EQ(frame->yuv, expectYuv);
      // Not black: the gradient's right end is bright.
      const std::uint8_t* right = &frame->bgra[(static_cast<size_t>(40) * frame->width + 60) * 4];
      EXPECT_GT(right[0] + right[1] + right[2], 300);
      ASSERT_EQ(frame->overlay.size(), 1u);
      EXPECT_EQ(frame->overlay[0].kind, DrawCall::Kind::Rectangle);
    }
    EXPECT_EQ(overlays, 2);
    EXPECT_EQ(m_output.YuvCalls() - callsBefore, c.yuvCalls);
    m_output.RefuseYuv(PresentResult::Shown);
  }
}

}  // namespace
