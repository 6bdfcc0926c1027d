#include "PresentTap.h"

#include <cmath>

int ReadLoopIndex(const platform::display::VideoFrameView& frame, int loopLength) {
  if (frame.bgra == nullptr || frame.width < 32 || frame.height < 8 || loopLength < 2) return -1;
  // Below the frame counter's plate and the red block: only the grey ramp (at most ~190) and the
  // bar (white) cross this row.
  const std::uint8_t* row = frame.bgra + static_cast<size_t>(frame.height * 7 / 8) * frame.stride;
  int bestStart = -1, bestLength = 0;
  for (int x = 0, start = -1; x <= frame.width; ++x) {
    const bool bright = x < frame.width && row[x * 4] > 225 && row[x * 4 + 1] > 225 && row[x * 4 + 2] > 225;
    if (bright && start < 0) start = x;
    if (!bright && start >= 0) {
      if (x - start > bestLength) {
        bestStart = start;
        bestLength = x - start;
      }
      start = -1;
    }
  }
  if (bestLength == 0) return -1;
  // The source puts the bar (1/16 of the width) at position i * (15/16 width) / (loop - 1).
  const double centre = (bestStart + bestLength / 2.0) / frame.width;
  const long index = std::lround((centre - 1.0 / 32) * (loopLength - 1) / (15.0 / 16));
  return index >= 0 && index < loopLength ? static_cast<int>(index) : -1;
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
  const auto at = BenchClock::now();
  int pane = -1;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_panes.find(window);
    if (it != m_panes.end()) pane = it->second;
  }
  if (shown && pane >= 0) m_ledger.Presented(pane, at, index);
  if (pane < 0) ++m_other;
  return shown;
}
