#include "service/windows/CPlayWnd.h"

#include <chrono>

#include "common/ColourText.h"
#include "platform/timer/PeriodicTimer.h"
#include "service/events/IEvent.h"
#include "service/windows/PlayWndClasses.h"
#include "service/windows/WndObjManager.h"

using platform::display::ColorRef;
using platform::display::MakeColor;

namespace {

std::mutex g_timingsMutex;
WndTimings g_timings;
std::once_flag g_classesRegistered;
std::atomic<bool> g_followTimerEnabled{true};

// The webVersion whose single-pane layout shows the selected pane instead of pane 0.
const char kKeepsSelectedVersion[] = "23.1.29.230110";

ColorRef ColourOr(const std::string& text, ColorRef fallback) {
  if (text.empty()) return fallback;
  auto value = ColourTextToValue(text);
  return value ? *value : fallback;
}

}  // namespace

void SetWndTimings(const WndTimings& timings) {
  std::lock_guard<std::mutex> lock(g_timingsMutex);
  g_timings = timings;
}

WndTimings GetWndTimings() {
  std::lock_guard<std::mutex> lock(g_timingsMutex);
  return g_timings;
}

void WndSleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void CPlayWnd::SetFollowTimerEnabled(bool enabled) { g_followTimerEnabled = enabled; }

CPlayWnd::CPlayWnd(platform::display::IDisplay& display, const std::string& wndColor,
                   const std::string& borderColor, const std::string& highlightColor, int borderPixel,
                   int highlightPixel)
    : m_link(std::make_shared<GroupLink>()), m_fullScreenCount(m_link->fullScreenCount), m_display(display) {
  m_link->group = this;
  m_background = ColourOr(wndColor, MakeColor(0, 0, 0));
  m_borderPen = platform::display::Pen{ColourOr(borderColor, MakeColor(0x6C, 0x6C, 0x6C)),
                                       borderPixel > 0 ? borderPixel : 1};
  m_highlightPen = platform::display::Pen{ColourOr(highlightColor, MakeColor(255, 204, 0)),
                                          highlightPixel > 0 ? highlightPixel : 2};
  for (int i = 0; i < kPanes; ++i) {
    m_pane[i] = 0;
    m_paneWidth[i] = m_paneHeight[i] = m_paneDirty[i] = 0;
    m_paneRepaint[i] = false;
  }
  // One follow timer for the process, from the first group on.
  std::call_once(g_classesRegistered, [] {
    if (g_followTimerEnabled) platform::timer::StartPeriodicTimer(50, [] { CPlayWnd::FollowBrowsers(); });
  });
}

CPlayWnd::~CPlayWnd() {
  {
    std::lock_guard<std::mutex> lock(m_link->mutex);
    m_link->group = nullptr;
  }
  StopNoResource();
  // The dialog goes with the windows it belongs to, as owned windows go with their owner; a
  // dialog still being made sees the group closing and goes at once.
  CloseFullScreen();
  StopWindows();
  JoinFullScreen();
  std::lock_guard<std::mutex> lock(m_paneStateMutex);
  m_paneState.clear();
}

void CPlayWnd::StopWindows() {
  WindowId container = m_container.load();
  if (container != 0) m_display.Destroy(container);
  // The destroy is handled on the window thread, which then leaves its loop; the group stays
  // registered until then so that its procedures still find it.
  if (m_windowThread.joinable()) m_windowThread.join();
  WndObjManager::GetInstance().RemoveWnd(container);
  m_container = 0;
  for (auto& pane : m_pane) pane = 0;
}

layout::PaneSize CPlayWnd::GetPaneSize(int index) {
  if (index < 0 || index >= kPanes) return {};
  layout::PaneSize s = layout::GetPaneSize(m_arrangeType, m_columns, index, m_width, m_height);
  m_paneWidth[index] = s.width;
  m_paneHeight[index] = s.height;
  return s;
}

platform::display::Point CPlayWnd::GetPanePos(int index) const {
  return layout::GetPanePos(m_arrangeType, m_columns, index, m_width, m_height);
}

void CPlayWnd::PlacePane(int index) {
  if (index < 0 || index >= kPanes) return;
  GetPaneSize(index);
  WindowId pane = m_pane[index];
  if (pane == 0) return;
  m_display.Move(pane, layout::PlacedRect(m_arrangeType, m_columns, index, m_width, m_height));
}

int CPlayWnd::Arrange(int arrangeType, const std::string& webVersion) {
  if (!layout::IsValidArrangeType(arrangeType)) return -1;
  m_webVersion = webVersion;
  m_arrangeType = arrangeType;
  layout::Shape shape = layout::ShapeOf(arrangeType);
  m_paneCount = shape.paneCount;
  m_columns = shape.columns;
  const WndTimings timings = GetWndTimings();
  WindowId container = m_container;
  if (m_eventSink) m_eventSink->OnPaneCountChanged(container, shape.paneCount);
  WndSleep(timings.paneCountSettleMs);

  for (int i = 0; i < kPanes; ++i) {
    WindowId pane = m_pane[i];
    if (pane) m_display.Show(pane, false);
    if (i < shape.paneCount && shape.paneCount != 1) {
      m_paneDirty[i] = 3;
      if (pane) m_display.Show(pane, true);
    }
  }
  if (shape.paneCount == 1) {
    if (webVersion != kKeepsSelectedVersion) m_selected = 0;
    int selected = m_selected;
    m_paneDirty[selected] = 3;
    if (m_pane[selected]) m_display.Show(m_pane[selected], true);
    if (m_eventSink) m_eventSink->OnWndSelected(container, selected);
  }
  WndSleep(timings.arrangePaintMs);
  if (container) {
    m_display.Invalidate(container);
    m_display.Show(container, m_visible);
  }
  std::lock_guard<std::mutex> lock(m_paneStateMutex);
  m_paneState.clear();
  for (int i = 0; i < shape.paneCount && i < kPanes; ++i) m_paneState[i] = 0;
  return 0;
}

bool CPlayWnd::CutRegion(int cutWidth, int cutHeight) {
  WindowId container = m_container;
  if (!container) return false;
  return m_display.SetRegion(container, layout::CutPolygon(m_width, m_height, cutWidth, cutHeight));
}

bool CPlayWnd::RestoreRegion() {
  WindowId container = m_container;
  if (!container) return false;
  return m_display.SetRegion(container, layout::FullPolygon(m_width, m_height));
}

void CPlayWnd::Refresh(int index) {
  if (index == -1) {
    if (WindowId container = m_container) m_display.Invalidate(container);
    return;
  }
  if (index < 0 || index >= kPanes) return;
  m_paneRepaint[index] = true;
  if (WindowId pane = m_pane[index]) m_display.Invalidate(pane);
}

void CPlayWnd::RequestPaneRepaint(WindowId pane) {
  int index = PaneIndexOf(pane);
  if (index < 0) return;
  m_paneRepaint[index] = true;
  m_display.Invalidate(pane);
}

void CPlayWnd::Hide() {
  if (m_hiddenByLock) return;
  m_visible = false;
  if (WindowId container = m_container) m_display.Show(container, false);
}

void CPlayWnd::Show() {
  if (m_hiddenByLock) return;
  m_visible = true;
  if (WindowId container = m_container) {
    m_display.Show(container, true);
    m_display.Activate(container);
  }
}

std::string CPlayWnd::GetBrowserName() const {
  switch (m_browserKind.load()) {
    case BrowserKind::Kind360: return "360";
    case BrowserKind::Firefox: return "Firefox";
    case BrowserKind::IE: return "IE";
    default: return "other";
  }
}

int CPlayWnd::PaneIndexOf(WindowId pane) const {
  if (pane == 0) return -1;
  for (int i = 0; i < kPanes; ++i)
    if (m_pane[i].load() == pane) return i;
  return -1;
}

ZoomRect CPlayWnd::SetDigitalZoom(int index, float zoomX, float zoomY) {
  if (index < 0 || index >= kPanes) return {};
  std::lock_guard<std::mutex> lock(m_zoomMutex);
  m_zoomX = zoomX;
  m_zoomY = zoomY;
  layout::ZoomFromPercent(m_paneWidth[index], m_paneHeight[index], zoomX, zoomY, &m_zoom[index]);
  return m_zoom[index];
}

void CPlayWnd::GetDigitalZoom(int index, float* zoomX, float* zoomY) {
  *zoomX = *zoomY = 0;
  if (index < 0 || index >= kPanes) return;
  std::lock_guard<std::mutex> lock(m_zoomMutex);
  int pw = m_paneWidth[index], ph = m_paneHeight[index];
  // A pane never laid out has no size to be a percentage of.
  if (pw > 0) *zoomX = static_cast<float>(m_zoom[index].left * 100) / pw;
  if (ph > 0) *zoomY = static_cast<float>(m_zoom[index].top * 100) / ph;
}

void CPlayWnd::SetAllPaneStates(int value) {
  std::lock_guard<std::mutex> lock(m_paneStateMutex);
  for (auto& [index, state] : m_paneState) state = value;
}

std::map<int, int> CPlayWnd::PaneStates() {
  std::lock_guard<std::mutex> lock(m_paneStateMutex);
  return m_paneState;
}
