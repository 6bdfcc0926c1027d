// Finding the browser window that shows the page, keeping the container over the page, moving
// and re-attaching it, and the monitor that shows it.
#include "common/DebugLog.h"
#include "service/events/IEvent.h"
#include "service/windows/CPlayWnd.h"
#include "service/windows/PlayWndClasses.h"
#include "service/windows/WndObjManager.h"

using platform::display::MakeRect;
using platform::display::Rect;

namespace {

constexpr size_t kCaptionBytes = 255;  // captions are compared as read into a 256-byte buffer

bool Contains(const std::string& text, const std::string& part, size_t limit = std::string::npos) {
  return text.substr(0, limit).find(part) != std::string::npos;
}

}  // namespace

std::optional<Rect> CPlayWnd::RectOf(WindowId window) {
  if (window == 0) return std::nullopt;
  return m_display.GetWindowRect(window);
}

bool CPlayWnd::FindBrowserWindow() {
  const WndTimings timings = GetWndTimings();
  for (int attempt = 0; attempt < 3; ++attempt) {
    WndSleep(timings.attachRetryMs);
    bool first = true;
    for (const auto& top : m_display.ListTopLevelWindows()) {
      if (!first) WndSleep(timings.walkStepMs);
      first = false;
      if (!top.enabled || !top.visible) continue;
      if (Contains(top.caption, m_pageTitle, kCaptionBytes)) {
        m_browserWindow = top.id;
        return true;
      }
    }
  }
  return false;
}

int CPlayWnd::AttachToBrowser(int left, int top, int width, int height, int bodyHeight,
                              const std::string& pageTitle) {
  m_offsetX = left;
  m_offsetY = top;
  m_width = width;
  m_height = height;
  m_pageTitle = pageTitle;
  m_bodyHeight = bodyHeight;
  m_visible = true;
  if (!FindBrowserWindow()) {
    DebugLog("Not found web handle!");
    return -1;
  }
  DebugLog("The web handle is found!");
  const WndTimings timings = GetWndTimings();
  WindowId browser = m_browserWindow;
  std::string className = m_display.GetClassName(browser).value_or("").substr(0, kCaptionBytes);
  if (Contains(className, "360se6_Frame")) {
    m_browserKind = BrowserKind::Kind360;
  } else if (bodyHeight > 0) {
    m_browserKind = BrowserKind::Firefox;
  } else if (bodyHeight == -1) {
    m_browserKind = BrowserKind::IE;
  } else {
    m_browserKind = BrowserKind::Other;
  }
  switch (m_browserKind.load()) {
    case BrowserKind::Kind360:
    case BrowserKind::Other: {
      bool found = false;
      for (WindowId child : m_display.ListChildren(browser)) {
        auto r = m_display.GetWindowRect(child);
        if (r && r->top != 0) {
          m_pageWindow = child;
          m_x = m_offsetX + r->left;
          m_y = m_offsetY + r->top;
          found = true;
          break;
        }
        WndSleep(timings.walkStepMs);
      }
      if (!found) return -1;
      break;
    }
    case BrowserKind::Firefox: {
      Rect t = RectOf(browser).value_or(Rect{});
      m_x = m_offsetX + t.left;
      m_y = m_offsetY + t.bottom - bodyHeight;
      m_pageTop = t.bottom - bodyHeight - t.top;
      break;
    }
    case BrowserKind::IE: {
      WindowId tab = 0;
      for (WindowId child : m_display.ListChildren(browser)) {
        if (Contains(m_display.GetClassName(child).value_or(""), "Frame Tab")) {
          tab = child;
          break;
        }
        WndSleep(timings.walkStepMs);
      }
      if (!tab) return -1;
      WindowId page = 0;
      for (WindowId child : m_display.ListChildren(tab)) {
        if (Contains(m_display.GetCaption(child).value_or(""), pageTitle, kCaptionBytes)) {
          page = child;
          break;
        }
        WndSleep(timings.walkStepMs);
      }
      if (!page) return -1;
      m_pageWindow = page;
      break;
    }
  }
  // The windows exist before the first layout command can use them.
  std::promise<bool> created;
  auto ready = created.get_future();
  m_windowThread = std::thread([this, &created] { WindowThread(&created); });
  if (!ready.get()) {
    m_windowThread.join();
    return -1;
  }
  StartNoResource();
  return 0;
}

void CPlayWnd::WindowThread(std::promise<bool>* created) {
  platform::display::IDisplay* display = &m_display;
  Rect rect = MakeRect(m_x, m_y, m_width, m_height);
  WindowId container = display->CreateContainer(m_browserWindow, rect, &m_containerDelegate);
  if (container == 0) {
    created->set_value(false);
    return;
  }
  for (int i = 0; i < kPanes; ++i) m_pane[i] = display->CreateChild(container, Rect{}, &m_paneDelegate);
  WndObjManager::GetInstance().AddWnd(container, this);
  display->WatchSessionLock(container, true);
  m_container = container;
  display->Move(container, rect);
  created->set_value(true);
  display->RunLoop();
}

void CPlayWnd::FollowBrowsers() {
  WndObjManager::GetInstance().ForEach([](CPlayWnd& group) { group.FollowOne(); });
}

void CPlayWnd::FollowOne() {
  platform::display::IDisplay* display = &m_display;
  WindowId browser = m_browserWindow, container = m_container;
  if (browser == 0 || container == 0) return;
  if (!m_visible) {
    if (display->IsVisible(container)) display->Show(container, false);
    return;
  }
  const int walkStepMs = GetWndTimings().walkStepMs;
  auto children = display->ListChildren(browser);
  for (size_t i = 0; i < children.size(); ++i) {
    auto r = display->GetWindowRect(children[i]);
    if (r && r->top != 0 && display->IsVisible(children[i])) {
      WindowId page = children[i];
      if (i + 1 < children.size()) {
        auto next = display->GetWindowRect(children[i + 1]);
        if (next && next->top == r->top && next->Width() < r->Width()) page = children[i + 1];
      }
      m_pageWindow = page;
      break;
    }
    WndSleep(walkStepMs);
  }
  int nx, ny;
  if (m_fullScreenCount > 0) {
    nx = m_monitorLeft;
    ny = m_monitorTop;
  } else if (m_browserKind != BrowserKind::Firefox) {
    auto page = RectOf(m_pageWindow);
    if (!page) return;
    nx = m_offsetX + page->left;
    ny = m_offsetY + page->top;
  } else {
    auto top = RectOf(browser);
    if (!top) return;
    nx = m_offsetX + top->left;
    // Where the window rectangle includes the browser's borders they are taken off.
    int correction = display->FrameCorrection(top->left < 0);
    if (correction == 0 && display->FrameCorrection(top->left >= 0) == 0) {
      // The rectangle is what the browser shows: its page keeps its distance from the window's
      // top while the window manager resizes or maximises it, before the page tells its new
      // height (and for pages that never do).
      ny = m_offsetY + top->top + m_pageTop;
    } else {
      ny = m_offsetY + top->bottom - m_bodyHeight;
    }
    nx += correction;
    ny -= correction;
  }
  Rect target = MakeRect(nx, ny, m_width, m_height);
  auto current = display->GetWindowRect(container);
  if (!current || *current != target) {
    display->Move(container, target);
    m_x = nx;
    m_y = ny;
  }
}

int CPlayWnd::MoveTo(int left, int top, int width, int height, int bodyHeight) {
  m_offsetX = left;
  m_offsetY = top;
  m_width = width;
  m_height = height;
  m_bodyHeight = bodyHeight;
  RestoreRegion();
  Rect origin = bodyHeight <= 0 ? RectOf(m_pageWindow).value_or(Rect{}) : RectOf(m_browserWindow).value_or(Rect{});
  int x = left + origin.left;
  int y = bodyHeight <= 0 ? top + origin.top : top + origin.bottom - bodyHeight;
  if (bodyHeight > 0) m_pageTop = origin.bottom - bodyHeight - origin.top;
  if (WindowId container = m_container) m_display.Move(container, MakeRect(x, y, width, height));
  m_x = x;
  m_y = y;
  return 0;
}

int CPlayWnd::Reattach() {
  if (m_hiddenByLock) {
    m_hiddenByLock = false;
    return 0;
  }
  // The old windows go with their thread; so does the old "NO RESOURCE" painter, which would
  // otherwise keep drawing into windows that no longer exist.
  StopNoResource();
  StopWindows();
  int result = AttachToBrowser(m_offsetX, m_offsetY, m_width, m_height, m_bodyHeight, m_pageTitle);
  WndSleep(GetWndTimings().reattachSettleMs);
  Arrange(m_arrangeType, m_webVersion);
  if (m_eventSink) m_eventSink->OnWndRecreated(m_container);
  return result;
}

void CPlayWnd::LocateMonitor() {
  WindowId window = m_pageWindow ? m_pageWindow.load() : m_browserWindow.load();
  auto monitor = platform::display::MonitorNearest(m_display, window);
  if (!monitor) return;
  m_monitorLeft = monitor->rect.left;
  m_monitorTop = monitor->rect.top;
  DebugLog("Screen name: %s, left: %d, top: %d", monitor->name.c_str(), monitor->rect.left, monitor->rect.top);
}
