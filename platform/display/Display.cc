#include "platform/display/Display.h"

#include <algorithm>
#include <atomic>
#include <climits>

namespace platform::display {

namespace {
std::atomic<IDisplay*> g_display{nullptr};

long long Overlap(const Rect& a, const Rect& b) {
  long long w = std::min(a.right, b.right) - std::max(a.left, b.left);
  long long h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
  return (w > 0 && h > 0) ? w * h : 0;
}

long long Distance(const Rect& a, const Rect& b) {
  long long dx = std::max({0, b.left - a.right, a.left - b.right});
  long long dy = std::max({0, b.top - a.bottom, a.top - b.bottom});
  return dx * dx + dy * dy;
}
}  // namespace

void SetDisplay(IDisplay* display) { g_display.store(display); }
IDisplay* GetDisplay() { return g_display.load(); }

std::optional<Monitor> MonitorNearest(IDisplay& display, WindowId window) {
  auto monitors = display.ListMonitors();
  if (monitors.empty()) return std::nullopt;
  auto rect = display.GetWindowRect(window);
  if (!rect) {
    for (const auto& m : monitors)
      if (m.primary) return m;
    return monitors.front();
  }
  const Monitor* best = nullptr;
  long long bestOverlap = 0;
  for (const auto& m : monitors) {
    long long o = Overlap(*rect, m.rect);
    if (o > bestOverlap) {
      bestOverlap = o;
      best = &m;
    }
  }
  if (best) return *best;
  long long bestDistance = LLONG_MAX;
  for (const auto& m : monitors) {
    long long d = Distance(*rect, m.rect);
    if (d < bestDistance) {
      bestDistance = d;
      best = &m;
    }
  }
  return *best;
}

}  // namespace platform::display
