#include "service/windows/Layout.h"

#include <cmath>
#include <cstdlib>

namespace layout {

namespace {
constexpr int kOneBigSix = 1001;     // one 2x2 pane and 5 single panes
constexpr int kOneBigEight = 2001;   // one 3x3 pane and 7 single panes
constexpr int kTwoBigTen = 3001;     // two 2x2 panes and 8 single panes
constexpr int kCentreThirteen = 4001;  // one 2x2 pane in the middle, 12 around it

bool IsSpecial(int t) { return t == kOneBigSix || t == kOneBigEight || t == kTwoBigTen || t == kCentreThirteen; }

PaneSize Single(int columns, int W, int H) {
  return PaneSize{(W - columns + 1) / columns, (H - columns + 1) / columns};
}
}  // namespace

bool IsValidArrangeType(int t) { return IsSpecial(t) || (t >= 1 && t <= kPaneCount); }

Shape ShapeOf(int t) {
  switch (t) {
    case kOneBigSix: return Shape{6, 3};
    case kOneBigEight: return Shape{8, 4};
    case kTwoBigTen: return Shape{10, 4};
    case kCentreThirteen: return Shape{13, 4};
    default: return Shape{t, static_cast<int>(std::sqrt(static_cast<double>(t)))};
  }
}

PaneSize GetPaneSize(int t, int c, int i, int W, int H) {
  if (c == 1) return PaneSize{W, H};
  PaneSize s = Single(c, W, H);
  int w = s.width, h = s.height;
  if (t == kOneBigSix && i == 0) return PaneSize{2 * w + 2, 2 * h + 2};
  if (t == kOneBigEight && i == 0) return PaneSize{3 * w + 4, 3 * h + 4};
  if (t == kTwoBigTen && (i == 0 || i == 1)) return PaneSize{2 * w + 2, 2 * h + 2};
  if (t == kCentreThirteen && i == 5) return PaneSize{2 * w + 1, 2 * h + 1};
  return s;
}

Point GetPanePos(int t, int c, int i, int W, int H) {
  if (c == 1) return Point{0, 0};
  PaneSize s = Single(c, W, H);
  int w = s.width, h = s.height;
  switch (t) {
    case kOneBigSix: {
      const Point p[] = {{0, 0}, {2 * w + 4, 0}, {2 * w + 4, h + 2}, {0, 2 * h + 4}, {w + 2, 2 * h + 4},
                         {2 * w + 4, 2 * h + 4}};
      return i < 6 ? p[i] : Point{};
    }
    case kOneBigEight:
      if (i == 0) return Point{0, 0};
      if (i <= 3) return Point{3 * w + 6, (i - 1) * (h + 2)};
      if (i <= 7) return Point{(i - 4) * (w + 2), 3 * h + 6};
      return Point{};
    case kTwoBigTen: {
      const Point p[] = {{0, 0},          {2 * w + 4, 0},          {0, 2 * h + 4},     {w + 2, 2 * h + 4},
                         {2 * w + 4, 2 * h + 4}, {3 * w + 6, 2 * h + 4}, {0, 3 * h + 6}, {w + 2, 3 * h + 6},
                         {2 * w + 4, 3 * h + 6}, {3 * w + 6, 3 * h + 6}};
      return i < 10 ? p[i] : Point{};
    }
    case kCentreThirteen: {
      // Panes 6 and 8 start one pixel left, 10 and 11 one pixel up, of where a grid puts them;
      // pages have been laid out against these positions.
      const Point p[] = {{0, 0},         {w + 2, 0},         {2 * w + 4, 0},     {3 * w + 6, 0},
                         {0, h + 2},     {w + 2, h + 2},     {3 * w + 5, h + 2}, {0, 2 * h + 4},
                         {3 * w + 5, 2 * h + 4}, {0, 3 * h + 6}, {w + 2, 3 * h + 5}, {2 * w + 4, 3 * h + 5},
                         {3 * w + 6, 3 * h + 6}};
      return i < 13 ? p[i] : Point{};
    }
    default:
      return Point{(i % c) * (w + 2), (i / c) * (h + 2)};
  }
}

Rect PlacedRect(int t, int c, int i, int W, int H) {
  PaneSize s = GetPaneSize(t, c, i, W, H);
  Point p = GetPanePos(t, c, i, W, H);
  int pw = s.width, ph = s.height;
  int x = p.x, y = p.y;
  if (x == 0) {
    x = 1;
    pw -= 1;
  }
  if (x + pw >= W) pw = W - x - 1;
  if (y == 0) {
    y = 1;
    ph -= 1;
  }
  if (y + ph >= H) ph = H - y - 1;
  return platform::display::MakeRect(x, y, pw, ph);
}

Rect FrameRect(int t, int c, int i, int W, int H) {
  PaneSize s = GetPaneSize(t, c, i, W, H);
  Point p = GetPanePos(t, c, i, W, H);
  return Rect{p.x - 1, p.y - 1, p.x + s.width + 1, p.y + s.height + 1};
}

Rect ClippedFrame(const Rect& f, int W, int H) {
  Rect r = f;
  if (r.left < 0) r.left = 0;
  if (r.top < 0) r.top = 0;
  if (W < r.right) r.right = W - 1;
  if (H < r.bottom) r.bottom = H - 1;
  return r;
}

std::vector<Point> CutPolygon(int W, int H, int a, int b) {
  return {{0, 0}, {W, 0}, {W, H - b}, {W - a, H - b}, {W - a, H}, {0, H}};
}

std::vector<Point> FullPolygon(int W, int H) { return {{0, 0}, {W, 0}, {W, H}, {0, H}}; }

void ZoomFromPercent(int pw, int ph, float zoomX, float zoomY, ZoomRect* z) {
  z->left = static_cast<int>(pw * zoomX) / 100;
  z->top = static_cast<int>(ph * zoomY) / 100;
  z->right = z->left + pw / 2;
  z->bottom = z->top + ph / 2;
}

void DragZoom(int pw, int ph, int dx, int dy, ZoomRect* z) {
  if (0 < z->left + dx && z->left + dx < pw && 0 < z->right + dx && z->right + dx < pw - 3) {
    z->left += dx;
    z->right += dx;
  }
  if (0 < z->top + dy && z->top + dy < ph && 0 < z->bottom + dy && z->bottom + dy < ph - 3) {
    z->top += dy;
    z->bottom += dy;
  }
}

float RatioOf(int ratioType) {
  switch (ratioType) {
    case 1:
    case 4: return 32.0f / 9.0f;
    case 2: return 4.0f / 3.0f;
    case 3: return 16.0f / 9.0f;
    default: return 0.0f;
  }
}

Rect FullScreenVideoRect(int W, int H, int monitorLeft, int monitorTop, int ratioType, bool corridorMode) {
  if (corridorMode) {
    int w = H * 9 / 16;
    return platform::display::MakeRect((W - w) / 2, 0, w, H);
  }
  int width = W, height = H;
  float r = RatioOf(ratioType);
  if (r > 0.0f && H > 0) {
    float screen = static_cast<float>(W) / static_cast<float>(H);
    if (screen > r) {
      width = static_cast<int>(H * r);
      height = H;
    } else if (screen < r) {
      height = static_cast<int>(W / r);
      width = W;
    }
  }
  int x;
  if (monitorLeft < 0)
    x = (monitorLeft - width) / 2;
  else if (monitorLeft == 0)
    x = (W - width) / 2;
  else
    x = monitorLeft + W / 2 - width / 2;
  int y = std::abs((monitorTop + height - H) / 2);
  return platform::display::MakeRect(x, y, width, height);
}

}  // namespace layout
