#include "PresentTap.h"

#include <cmath>

namespace {

// The bar's position along one row of `width` pixels; `bright` tells whether pixel x is white.
template <typename Bright>
int ReadRow(int width, int loopLength, Bright bright) {
  int bestStart = -1, bestLength = 0;
  for (int x = 0, start = -1; x <= width; ++x) {
    const bool white = x < width && bright(x);
    if (white && start < 0) start = x;
    if (!white && start >= 0) {
      if (x - start > bestLength) {
        bestStart = start;
        bestLength = x - start;
      }
      start = -1;
    }
  }
  if (bestLength == 0) return -1;
  // The source puts the bar (1/16 of the width) at position i * (15/16 width) / (loop - 1).
  const double centre = (bestStart + bestLength / 2.0) / width;
  const long index = std::lround((centre - 1.0 / 32) * (loopLength - 1) / (15.0 / 16));
  return index >= 0 && index < loopLength ? static_cast<int>(index) : -1;
}

}  // namespace

// Below the frame counter's plate and the red block: only the grey ramp (at most ~190, Y ~180)
// and the bar (white) cross this row.
int ReadLoopIndex(const platform::display::VideoFrameView& frame, int loopLength) {
  if (frame.bgra == nullptr || frame.width < 32 || frame.height < 8 || loopLength < 2) return -1;
  const std::uint8_t* row = frame.bgra + static_cast<size_t>(frame.height * 7 / 8) * frame.stride;
  return ReadRow(frame.width, loopLength,
                 [row](int x) { return row[x * 4] > 225 && row[x * 4 + 1] > 225 && row[x * 4 + 2] > 225; });
}

int ReadLoopIndex(const platform::display::YuvFrameView& frame, int loopLength) {
  const int width = frame.VisibleWidth(), height = frame.VisibleHeight();
  if (!frame.Valid() || width < 32 || height < 8 || loopLength < 2) return -1;
  const int left = frame.cropWidth > 0 ? frame.cropX : 0, top = frame.cropWidth > 0 ? frame.cropY : 0;
  const std::uint8_t* row = frame.planes[0] + static_cast<size_t>(top + height * 7 / 8) * frame.strides[0] + left;
  const int threshold = frame.fullRange ? 225 : 210;
  return ReadRow(width, loopLength, [row, threshold](int x) { return row[x] > threshold; });
}

PresentTap::PresentTap(platform::display::IVideoOutput& display, FrameLedger& ledger, int loopLength)
    : m_display(display), m_ledger(ledger), m_loopLength(loopLength) {}

void PresentTap::SetPanes(std::map<platform::display::WindowId, int> panes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_panes = std::move(panes);
}

bool PresentTap::GetClientSize(platform::display::WindowId window, int* width, int* height) {
  return m_display.GetClientSize(window, width, height);
}

bool PresentTap::Present(platform::display::WindowId window, const platform::display::VideoFrameView& frame,
                         const std::function<void(void* canvas)>& overlay) {
  const int index = ReadLoopIndex(frame, m_loopLength);
  const bool shown = m_display.Present(window, frame, overlay);
  if (shown) {
    ++m_bgra;
    Note(window, index);
  }
  return shown;
}

platform::display::PresentResult PresentTap::PresentYuv(platform::display::WindowId window,
                                                        const platform::display::YuvFrameView& frame,
                                                        const std::function<void(void* canvas)>& overlay) {
  const int index = ReadLoopIndex(frame, m_loopLength);
  const auto result = m_display.PresentYuv(window, frame, overlay);
  if (result == platform::display::PresentResult::Shown) {
    ++m_yuv;
    Note(window, index);
  }
  return result;
}

void PresentTap::Note(platform::display::WindowId window, int index) {
  const auto at = BenchClock::now();
  int pane = -1;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_panes.find(window);
    if (it != m_panes.end()) pane = it->second;
  }
  if (pane >= 0) m_ledger.Presented(pane, at, index);
  if (pane < 0) ++m_other;
}
