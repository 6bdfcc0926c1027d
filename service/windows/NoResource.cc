// Writes "NO RESOURCE" into marked panes that show no video, every two seconds, so the text
// survives whatever the renderer draws into the pane.
#include "service/events/IEvent.h"
#include "service/windows/CPlayWnd.h"

#include <algorithm>

void CPlayWnd::StartNoResource() {
  {
    std::lock_guard<std::mutex> lock(m_noResourceMutex);
    m_stopNoResource = false;
  }
  m_noResourceThread = std::thread([this] { NoResourceThread(); });
}

void CPlayWnd::StopNoResource() {
  {
    std::lock_guard<std::mutex> lock(m_noResourceMutex);
    m_stopNoResource = true;
  }
  m_noResourceWake.notify_all();
  if (m_noResourceThread.joinable()) m_noResourceThread.join();
}

void CPlayWnd::NoResourceThread() {
  const platform::display::ColorRef grey = platform::display::MakeColor(123, 123, 123);
  std::unique_lock<std::mutex> lock(m_noResourceMutex);
  while (!m_stopNoResource) {
    lock.unlock();
    for (const auto& entry : PaneStates()) {
      // Not a structured binding: lambdas may not capture those before C++20 (clang refuses).
      const int index = entry.first;
      const auto state = entry.second;
      if (state == 0) continue;
      if (m_eventSink) {
        int player = m_eventSink->GetPlayerHandle(m_container, index);
        if (player != 0 && player != -1) continue;
      }
      WindowId pane = Pane(index);
      auto rect = pane ? m_display.GetWindowRect(pane) : std::nullopt;
      if (!rect) continue;
      // 40 px high where it fits; X11's fonts set the text wider than Windows' Arial, so a narrow
      // pane gets a smaller one instead of a clipped word.
      const platform::display::Font font{std::max(10, std::min(40, (rect->Width() - 8) / 8)), 16, "Arial"};
      m_display.Draw(pane, [&](platform::display::ICanvas& canvas) {
        if (state == 1)
          canvas.DrawTextCentered(platform::display::Rect{0, 0, rect->Width(), rect->Height()}, "NO RESOURCE", font,
                                  grey);
      });
    }
    lock.lock();
    m_noResourceWake.wait_for(lock, std::chrono::milliseconds(GetWndTimings().noResourcePeriodMs),
                              [this] { return m_stopNoResource; });
  }
}
