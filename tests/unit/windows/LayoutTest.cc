#include <gtest/gtest.h>

#include "common/ColourText.h"
#include "service/windows/Layout.h"

using platform::display::MakeRect;
using platform::display::Point;
using platform::display::Rect;

namespace {

struct PaneCase {
  int arrangeType, W, H, pane;
  int width, height;  // GetPaneSize
  Point pos;          // GetPanePos
};

TEST(Layout, ShapesOfEveryFamily) {
  struct {
    int arrangeType, paneCount, columns;
  } cases[] = {{1, 1, 1}, {4, 4, 2}, {6, 6, 2}, {9, 9, 3}, {16, 16, 4}, {64, 64, 8},
               {1001, 6, 3}, {2001, 8, 4}, {3001, 10, 4}, {4001, 13, 4}};
  for (const auto& c : cases) {
    auto s = layout::ShapeOf(c.arrangeType);
    EXPECT_EQ(s.paneCount, c.paneCount) << c.arrangeType;
    EXPECT_EQ(s.columns, c.columns) << c.arrangeType;
    EXPECT_TRUE(layout::IsValidArrangeType(c.arrangeType));
  }
  for (int bad : {0, -1, -4, 65, 100, 1000, 5001}) EXPECT_FALSE(layout::IsValidArrangeType(bad)) << bad;
}

TEST(Layout, PaneSizesAndPositions) {
  const PaneCase cases[] = {
      // Plain grid, 4 on 640 x 480.
      {4, 640, 480, 0, 319, 239, {0, 0}},
      {4, 640, 480, 1, 319, 239, {321, 0}},
      {4, 640, 480, 2, 319, 239, {0, 241}},
      {4, 640, 480, 3, 319, 239, {321, 241}},
      // 6 is a 2 x 2 grid whose panes 4 and 5 lie below the container.
      {6, 640, 480, 4, 319, 239, {0, 482}},
      {6, 640, 480, 5, 319, 239, {321, 482}},
      {1, 640, 480, 0, 640, 480, {0, 0}},
      // 1001 on 600 x 600: w = h = 199.
      {1001, 600, 600, 0, 400, 400, {0, 0}},
      {1001, 600, 600, 1, 199, 199, {402, 0}},
      {1001, 600, 600, 2, 199, 199, {402, 201}},
      {1001, 600, 600, 3, 199, 199, {0, 402}},
      {1001, 600, 600, 4, 199, 199, {201, 402}},
      {1001, 600, 600, 5, 199, 199, {402, 402}},
      // 2001 on 800 x 600: w = 199, h = 149.
      {2001, 800, 600, 0, 601, 451, {0, 0}},
      {2001, 800, 600, 1, 199, 149, {603, 0}},
      {2001, 800, 600, 3, 199, 149, {603, 302}},
      {2001, 800, 600, 4, 199, 149, {0, 453}},
      {2001, 800, 600, 7, 199, 149, {603, 453}},
      // 3001: two big panes side by side over two rows of four.
      {3001, 800, 600, 0, 400, 300, {0, 0}},
      {3001, 800, 600, 1, 400, 300, {402, 0}},
      {3001, 800, 600, 2, 199, 149, {0, 302}},
      {3001, 800, 600, 5, 199, 149, {603, 302}},
      {3001, 800, 600, 6, 199, 149, {0, 453}},
      {3001, 800, 600, 9, 199, 149, {603, 453}},
      // 4001: the one-pixel-off positions and the 2w+1 centre pane.
      {4001, 800, 600, 3, 199, 149, {603, 0}},
      {4001, 800, 600, 4, 199, 149, {0, 151}},
      {4001, 800, 600, 5, 399, 299, {201, 151}},
      {4001, 800, 600, 6, 199, 149, {602, 151}},
      {4001, 800, 600, 8, 199, 149, {602, 302}},
      {4001, 800, 600, 9, 199, 149, {0, 453}},
      {4001, 800, 600, 10, 199, 149, {201, 452}},
      {4001, 800, 600, 11, 199, 149, {402, 452}},
      {4001, 800, 600, 12, 199, 149, {603, 453}},
  };
  for (const auto& c : cases) {
    int columns = layout::ShapeOf(c.arrangeType).columns;
    auto s = layout::GetPaneSize(c.arrangeType, columns, c.pane, c.W, c.H);
    auto p = layout::GetPanePos(c.arrangeType, columns, c.pane, c.W, c.H);
    EXPECT_EQ(s.width, c.width) << c.arrangeType << " pane " << c.pane;
    EXPECT_EQ(s.height, c.height) << c.arrangeType << " pane " << c.pane;
    EXPECT_EQ(p.x, c.pos.x) << c.arrangeType << " pane " << c.pane;
    EXPECT_EQ(p.y, c.pos.y) << c.arrangeType << " pane " << c.pane;
  }
}

TEST(Layout, PlacedWindowsAndFrames) {
  const Rect placed4[] = {MakeRect(1, 1, 318, 238), MakeRect(321, 1, 318, 238), MakeRect(1, 241, 318, 238),
                          MakeRect(321, 241, 318, 238)};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(layout::PlacedRect(4, 2, i, 640, 480), placed4[i]) << i;
  EXPECT_EQ(layout::PlacedRect(1, 1, 0, 640, 480), MakeRect(1, 1, 638, 478));
  EXPECT_EQ(layout::FrameRect(4, 2, 1, 640, 480), (Rect{320, -1, 641, 240}));
  // The selected frame stays inside the container.
  EXPECT_EQ(layout::ClippedFrame(Rect{320, -1, 641, 240}, 640, 480), (Rect{320, 0, 639, 240}));
  EXPECT_EQ(layout::ClippedFrame(Rect{-1, -1, 320, 240}, 640, 480), (Rect{0, 0, 320, 240}));
}

TEST(Layout, CutAndFullRegions) {
  std::vector<Point> cut = {{0, 0}, {800, 0}, {800, 500}, {600, 500}, {600, 600}, {0, 600}};
  EXPECT_EQ(layout::CutPolygon(800, 600, 200, 100), cut);
  std::vector<Point> full = {{0, 0}, {800, 0}, {800, 600}, {0, 600}};
  EXPECT_EQ(layout::FullPolygon(800, 600), full);
}

TEST(Layout, ZoomRectangleAndItsDragBounds) {
  ZoomRect z;
  layout::ZoomFromPercent(319, 239, 50.0f, 25.0f, &z);
  EXPECT_EQ(z.left, 159);
  EXPECT_EQ(z.top, 59);
  EXPECT_EQ(z.right, 318);
  EXPECT_EQ(z.bottom, 178);

  struct {
    ZoomRect start;
    int dx, dy;
    int left, top;
  } drags[] = {
      {{10, 169, 10, 129}, -5, 5, 5, 15},     // inside: both axes move
      {{5, 164, 10, 129}, -10, 5, 5, 15},     // left would pass 0: only vertical movement
      {{150, 309, 10, 129}, 10, 0, 150, 10},  // right would reach the pane's width - 3
      {{10, 169, 110, 229}, 0, 10, 10, 110},  // bottom would reach the pane's height - 3
  };
  for (const auto& d : drags) {
    ZoomRect r = d.start;
    layout::DragZoom(319, 239, d.dx, d.dy, &r);
    EXPECT_EQ(r.left, d.left);
    EXPECT_EQ(r.top, d.top);
    EXPECT_EQ(r.right - r.left, d.start.right - d.start.left);
  }
}

TEST(Layout, FullScreenVideoArea) {
  struct {
    int W, H, monitorLeft, monitorTop, ratioType;
    bool corridor;
    Rect expected;
  } cases[] = {
      {1920, 1080, 0, 0, 2, false, MakeRect(240, 0, 1440, 1080)},
      {1920, 1080, 0, 0, 0, false, MakeRect(0, 0, 1920, 1080)},
      {1920, 1080, 0, 0, 3, false, MakeRect(0, 0, 1920, 1080)},
      {1920, 1080, 0, 0, 1, false, MakeRect(0, 270, 1920, 540)},
      {1920, 1080, 0, 0, 4, false, MakeRect(0, 270, 1920, 540)},
      {1920, 1080, 1920, 0, 2, false, MakeRect(2160, 0, 1440, 1080)},
      {1920, 1080, -1920, 0, 2, false, MakeRect(-1680, 0, 1440, 1080)},
      {1920, 1080, 0, 0, 0, true, MakeRect(656, 0, 607, 1080)},
      // Ratio types without a ratio fill the screen instead of making a zero-width area.
      {1920, 1080, 0, 0, 5, false, MakeRect(0, 0, 1920, 1080)},
      {1920, 1080, 0, 0, 99, false, MakeRect(0, 0, 1920, 1080)},
      {1920, 1080, 0, 0, -1, false, MakeRect(0, 0, 1920, 1080)},
  };
  for (const auto& c : cases) {
    Rect r = layout::FullScreenVideoRect(c.W, c.H, c.monitorLeft, c.monitorTop, c.ratioType, c.corridor);
    EXPECT_EQ(r, c.expected) << "ratioType " << c.ratioType << " left " << c.monitorLeft;
    EXPECT_GT(r.Width(), 0);
  }
}

TEST(ColourText, Conversions) {
  struct {
    const char* text;
    std::optional<std::uint32_t> value;
  } cases[] = {
      {"#FF8000", 0x0080FFu},
      {"#ff8000", 0x0080FFu},
      {"#F00", 0x0F0FFFu},  // 16*d + 15 per digit: red 255, green 15, blue 15
      {"  #0a0 ", 0x0FAF0Fu},
      {"(10, 20,30)", 0x1E140Au},
      {"rgb( 1, 2, 3 )", 0x030201u},
      {"(1,2)", 0u},
      {"(1,2,3,4)", 0u},
      {"#12345", 0u},
      {"red", 0u},
      {"(300,-5,0)", 0x0000FFu},  // clamped to a byte
      {"#GG0000", std::nullopt},
      {"#0000GG", std::nullopt},
      {"(a,1,2)", std::nullopt},
      {"(99999999999,0,0)", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ColourTextToValue(c.text), c.value) << c.text;
}

}  // namespace
