// YUV to BGRA on the CPU for backends that keep pictures as YUV and are asked for pixels now and
// then (the headless display's read-back). Plain bilinear scaling: exact enough to compare with
// what libswscale made of the same picture, not tuned for speed.
#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/display/VideoOutput.h"

namespace platform::display {

namespace {

struct Tap {
  int i0 = 0, i1 = 0;
  int w1 = 0;  // weight of i1, out of 256
};

// Sample positions along one axis: `out` pixels spread over `count` luma samples from `first`.
// Chroma (shift 1) is half as dense; `siting` is where its first sample lies in luma samples
// (4:2:0 as decoders make it: level with the first column, between the first two rows). Taps
// never reach outside the visible part, as a picture cropped before scaling would not.
std::vector<Tap> MakeTaps(int out, int first, int count, int shift, double siting) {
  std::vector<Tap> taps(static_cast<size_t>(out));
  const int lo = first >> shift, hi = (first + count - 1) >> shift;
  for (int o = 0; o < out; ++o) {
    double p = first + (o + 0.5) * count / out - 0.5;
    if (shift) p = (p - siting) / 2;
    p = std::clamp(p, static_cast<double>(lo), static_cast<double>(hi));
    Tap& t = taps[static_cast<size_t>(o)];
    t.i0 = static_cast<int>(std::floor(p));
    t.i1 = std::min(t.i0 + 1, hi);
    t.w1 = static_cast<int>(std::lround((p - t.i0) * 256));
  }
  return taps;
}

inline int Mix(int a, int b, int w) { return a * (256 - w) + b * w; }

inline std::uint8_t Clamp8(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

bool YuvFrameView::Valid() const {
  if (width <= 0 || height <= 0 || !planes[0] || !planes[1] || strides[0] < width) return false;
  const int chromaWidth = (width + 1) / 2;
  if (layout == YuvLayout::I420 && (!planes[2] || strides[1] < chromaWidth || strides[2] < chromaWidth)) return false;
  if (layout == YuvLayout::NV12 && strides[1] < chromaWidth * 2) return false;
  if (cropWidth == 0) return true;
  return cropX >= 0 && cropY >= 0 && cropWidth > 0 && cropHeight > 0 && cropX + cropWidth <= width &&
         cropY + cropHeight <= height;
}

bool ConvertYuvToBgra(const YuvFrameView& frame, int width, int height, std::uint8_t* bgra, int stride) {
  if (!frame.Valid() || width <= 0 || height <= 0 || bgra == nullptr || stride < width * 4) return false;
  const int cx = frame.cropWidth > 0 ? frame.cropX : 0, cy = frame.cropWidth > 0 ? frame.cropY : 0;
  const auto lumaX = MakeTaps(width, cx, frame.VisibleWidth(), 0, 0);
  const auto lumaY = MakeTaps(height, cy, frame.VisibleHeight(), 0, 0);
  const auto chromaX = MakeTaps(width, cx, frame.VisibleWidth(), 1, 0);
  const auto chromaY = MakeTaps(height, cy, frame.VisibleHeight(), 1, 0.5);
  const bool nv12 = frame.layout == YuvLayout::NV12;
  // BT.601: levels 16-235 (chroma 16-240) stretched to 0-255 unless the picture is full range.
  const double yScale = frame.fullRange ? 1.0 : 255.0 / 219, yOffset = frame.fullRange ? 0 : 16;
  const double cScale = frame.fullRange ? 1.0 : 255.0 / 224;
  for (int y = 0; y < height; ++y) {
    const Tap& ly = lumaY[static_cast<size_t>(y)];
    const Tap& cyTap = chromaY[static_cast<size_t>(y)];
    const std::uint8_t* y0 = frame.planes[0] + static_cast<size_t>(ly.i0) * frame.strides[0];
    const std::uint8_t* y1 = frame.planes[0] + static_cast<size_t>(ly.i1) * frame.strides[0];
    const std::uint8_t* u0 = frame.planes[1] + static_cast<size_t>(cyTap.i0) * frame.strides[1];
    const std::uint8_t* u1 = frame.planes[1] + static_cast<size_t>(cyTap.i1) * frame.strides[1];
    const std::uint8_t* v0 = nv12 ? u0 + 1 : frame.planes[2] + static_cast<size_t>(cyTap.i0) * frame.strides[2];
    const std::uint8_t* v1 = nv12 ? u1 + 1 : frame.planes[2] + static_cast<size_t>(cyTap.i1) * frame.strides[2];
    const int step = nv12 ? 2 : 1;
    std::uint8_t* out = bgra + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      const Tap& lx = lumaX[static_cast<size_t>(x)];
      const Tap& cxTap = chromaX[static_cast<size_t>(x)];
      const int a = cxTap.i0 * step, b = cxTap.i1 * step;
      const double luma = Mix(Mix(y0[lx.i0], y0[lx.i1], lx.w1), Mix(y1[lx.i0], y1[lx.i1], lx.w1), ly.w1) / 65536.0;
      const double u = Mix(Mix(u0[a], u0[b], cxTap.w1), Mix(u1[a], u1[b], cxTap.w1), cyTap.w1) / 65536.0;
      const double v = Mix(Mix(v0[a], v0[b], cxTap.w1), Mix(v1[a], v1[b], cxTap.w1), cyTap.w1) / 65536.0;
      const double l = (luma - yOffset) * yScale, cb = (u - 128) * cScale, cr = (v - 128) * cScale;
      out[x * 4] = Clamp8(l + 1.772 * cb);
      out[x * 4 + 1] = Clamp8(l - 0.344136 * cb - 0.714136 * cr);
      out[x * 4 + 2] = Clamp8(l + 1.402 * cr);
      out[x * 4 + 3] = 0xFF;
    }
  }
  return true;
}

}  // namespace platform::display
