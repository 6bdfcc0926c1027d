// The play benchmark's figures are only as good as its reading of presented pictures and its
// pairing of each with the frame it came from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "FrameLedger.h"
#include "PatternPainter.h"
#include "PresentTap.h"

namespace {

using namespace std::chrono_literals;

// The source's picture as a pane shows it: scaled bilinearly to width x height, grey (the row
// the reader looks at has no colour), BGRA.
std::vector<std::uint8_t> Presented(const source::YuvPicture& p, int width, int height) {
  std::vector<std::uint8_t> bgra(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    const double sy = std::min(p.height - 1.0, std::max(0.0, (y + 0.5) * p.height / height - 0.5));
    for (int x = 0; x < width; ++x) {
      const double sx = std::min(p.width - 1.0, std::max(0.0, (x + 0.5) * p.width / width - 0.5));
      const int x0 = static_cast<int>(sx), y0 = static_cast<int>(sy);
      const int x1 = std::min(x0 + 1, p.width - 1), y1 = std::min(y0 + 1, p.height - 1);
      const double fx = sx - x0, fy = sy - y0;
      auto at = [&](int xx, int yy) { return static_cast<double>(p.y[static_cast<size_t>(yy) * p.width + xx]); };
      const double luma = (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) + (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
      const auto grey = static_cast<std::uint8_t>(std::clamp((luma - 16) * 255 / 219, 0.0, 255.0));
      std::uint8_t* px = &bgra[(static_cast<size_t>(y) * width + x) * 4];
      px[0] = px[1] = px[2] = grey;
      px[3] = 255;
    }
  }
  return bgra;
}

TEST(PlayFigures, EveryLoopPositionIsReadAtEveryPaneSize) {
  struct Case {
    int sourceWidth, sourceHeight, paneWidth, paneHeight;
  };
  for (const Case c : {Case{640, 360, 640, 360}, Case{640, 360, 398, 223}, Case{640, 360, 199, 111},
                       Case{1920, 1080, 799, 449}, Case{1920, 1080, 1600, 900}}) {
    for (int frame = 0; frame < 50; ++frame) {
      const auto picture = source::PaintPattern(c.sourceWidth, c.sourceHeight, frame, 50);
      const auto bgra = Presented(picture, c.paneWidth, c.paneHeight);
      const platform::display::VideoFrameView view{bgra.data(), c.paneWidth, c.paneHeight, c.paneWidth * 4};
      EXPECT_EQ(ReadLoopIndex(view, 50), frame) << c.sourceWidth << " -> " << c.paneWidth << "x" << c.paneHeight;
      // The same picture handed over as YUV: read from its Y plane.
      platform::display::YuvFrameView yuv;
      yuv.planes[0] = picture.y.data();
      yuv.planes[1] = picture.u.data();
      yuv.planes[2] = picture.v.data();
      yuv.strides[0] = picture.width;
      yuv.strides[1] = yuv.strides[2] = picture.width / 2;
      yuv.width = picture.width;
      yuv.height = picture.height;
      EXPECT_EQ(ReadLoopIndex(yuv, 50), frame) << c.sourceWidth << " as YUV";
    }
  }
  std::vector<std::uint8_t> black(64 * 36 * 4, 0);
  EXPECT_EQ(ReadLoopIndex(platform::display::VideoFrameView{black.data(), 64, 36, 64 * 4}, 50), -1);
}

// A pane received 200 frames 40 ms apart; `present` says when (and as what) each was shown.
struct Timeline {
  const char* name;
  // Presentation of frame i: its delay in ms, or < 0 when it is not shown; `shownAs` lets a
  // picture be unreadable (-1) or shown twice.
  std::function<double(int)> delayMs;
  std::function<std::vector<int>(int)> shownAs;
  long dropped, unmatched;
  double p50Ms;
  bool grows;
};

TEST(PlayFigures, PresentationsAreTiedToTheFramesTheyCameFrom) {
  const auto once = [](int i) { return std::vector<int>{i % 50}; };
  const Timeline timelines[] = {
      {"every frame, 20 ms", [](int) { return 20.0; }, once, 0, 0, 20, false},
      {"frames 60..62 lost", [](int i) { return i >= 60 && i <= 62 ? -1.0 : 20.0; }, once, 3, 0, 20, false},
      {"repaints of the same picture", [](int) { return 15.0; },
       [](int i) { return std::vector<int>{i % 50, i % 50}; }, 0, 0, 15, false},
      {"an unreadable picture", [](int) { return 20.0; },
       [](int i) { return std::vector<int>{i == 100 ? -1 : i % 50}; }, 1, 1, 20, false},
      {"a delay longer than the loop", [](int) { return 2500.0; }, once, 0, 0, 2500, false},
      {"a delay that grows", [](int i) { return 10.0 + i; }, once, 0, 0, 70, true},
  };
  for (const Timeline& t : timelines) {
    FrameLedger ledger(1, 50);
    const auto start = BenchClock::now();
    std::vector<std::pair<BenchClock::time_point, int>> shown;
    for (int i = 0; i < 200; ++i) {
      const auto at = start + i * 40ms;
      ledger.Received(0, at);
      const double delay = t.delayMs(i);
      if (delay < 0) continue;
      const auto when = at + std::chrono::duration_cast<BenchClock::duration>(std::chrono::duration<double, std::milli>(delay));
      for (int index : t.shownAs(i)) shown.emplace_back(when, index);
    }
    std::stable_sort(shown.begin(), shown.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (auto& [when, index] : shown) ledger.Presented(0, when, index);
    // The window leaves out frames whose pictures come after the last presentation.
    const LatencyFigures f = ledger.Figures(start, start + 120 * 40ms);
    EXPECT_EQ(f.received, 120) << t.name;
    EXPECT_EQ(f.dropped, t.dropped) << t.name;
    EXPECT_EQ(f.unmatched, t.unmatched) << t.name;
    EXPECT_NEAR(f.p50Ms, t.p50Ms, 1.0) << t.name;
    EXPECT_EQ(f.lastFifthP50Ms - f.firstFifthP50Ms > 20, t.grows) << t.name;
  }
}

}  // namespace
