#include "service/media/ZoomMath.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using platform::display::Rect;

namespace {
constexpr int kMinZoomPixels = 5;
}

Rect OrderedRect(const Rect& r) {
  return Rect{std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
              std::max(r.top, r.bottom)};
}

std::optional<Rect> NestedZoom(const Rect& shown, const Rect& selection, int windowWidth, int windowHeight) {
  const int shownWidth = std::abs(shown.Width());
  const int shownHeight = std::abs(shown.Height());
  if (shownWidth == 0 || shownHeight == 0) return std::nullopt;
  const double scaleX = static_cast<double>(windowWidth) / shownWidth;
  const double scaleY = static_cast<double>(windowHeight) / shownHeight;
  if (scaleX <= 0 || scaleY <= 0) return std::nullopt;
  const Rect s = OrderedRect(selection);
  Rect out;
  out.left = shown.left + static_cast<int>(std::floor(s.left / scaleX));
  out.right = out.left + static_cast<int>(std::floor((s.right - s.left) / scaleX));
  out.top = shown.top + static_cast<int>(std::floor(s.top / scaleY));
  out.bottom = out.top + static_cast<int>(std::floor((s.bottom - s.top) / scaleY));
  if (out.Width() < kMinZoomPixels || out.Height() < kMinZoomPixels) return std::nullopt;
  return out;
}
