// Full screen: the whole group enlarged to the desktop (Escape restores it), or one pane's video
// shown alone on a top-most window standing in for a modal dialog, on a thread of its own.
#include <atomic>

#include "service/events/IEvent.h"
#include "service/windows/CPlayWnd.h"

using platform::display::Key;
using platform::display::MakeRect;
using platform::display::MouseAction;
using platform::display::Rect;
using platform::display::WindowId;

namespace {
std::atomic<PlayIntoWindowFn> g_play{nullptr};
std::atomic<RefreshPlayerFn> g_refresh{nullptr};
// Only one pane full screen at a time, process-wide.
std::atomic<CPlayWnd*> g_fullScreenGroup{nullptr};

int PlayInto(int player, WindowId window) {
  auto play = g_play.load();
  return play ? play(player, window, 0) : -1;
}
void RefreshPlayer(int player) {
  if (auto refresh = g_refresh.load()) refresh(player);
}
bool IsPlayer(int player) { return player != 0 && player != -1; }
}  // namespace

void SetPlayerCalls(PlayIntoWindowFn play, RefreshPlayerFn refresh) {
  g_play = play;
  g_refresh = refresh;
}

// The dialog's procedure. Its video window is a child laid over it, whose input is the dialog's.
class FullScreenDialog : public platform::display::IWindowDelegate {
 public:
  FullScreenDialog(CPlayWnd& group, int W, int H) : m_group(group), m_W(W), m_H(H) {}
  WindowId m_dialog = 0, m_video = 0;
  Rect m_videoRect;

  void OnPaint(WindowId window, platform::display::ICanvas& canvas) override {
    if (window != m_dialog) return;
    canvas.FillRect(Rect{0, 0, m_W, m_H}, 0);
    if (IEvent* sink = m_group.m_eventSink) {
      int player = sink->GetPlayerHandle(m_group.Container(), m_group.m_selected);
      if (IsPlayer(player)) RefreshPlayer(player);
    }
  }
  void OnMouse(WindowId window, MouseAction action, int x, int y) override {
    if (window == m_video) {
      x += m_videoRect.left - m_group.m_monitorLeft;
      y += m_videoRect.top - m_group.m_monitorTop;
    }
    switch (action) {
      case MouseAction::LeftDoubleClick:
        Close();
        break;
      case MouseAction::LeftDown:
        m_group.m_mouseDown = true;
        m_group.m_drag = DragRect{x, y, x, y};
        Report(false);
        break;
      case MouseAction::Move:
        if (!m_group.m_mouseDown) break;
        m_group.m_drag.curX = x;
        m_group.m_drag.curY = y;
        Report(false);
        break;
      case MouseAction::LeftUp:
        if (!m_group.m_mouseDown) break;
        m_group.m_mouseDown = false;
        m_group.m_drag.curX = x;
        m_group.m_drag.curY = y;
        Report(true);
        break;
      case MouseAction::RightUp:
        if (IEvent* sink = m_group.m_eventSink)
          sink->OnWndMouse(m_group.Container(), m_group.m_selected, 0, 0, nullptr, true);
        break;
      case MouseAction::Leave:
        break;
    }
  }
  // Escape is the dialog's cancel command.
  void OnKey(WindowId, Key key) override {
    if (key == Key::Escape) Close();
  }
  void OnDestroy(WindowId window) override {
    if (window == m_dialog) m_group.m_display.PostQuit();
  }

  void Close() { m_group.m_display.Destroy(m_dialog); }

 private:
  void Report(bool finished) {
    if (IEvent* sink = m_group.m_eventSink) {
      DragRect drag = m_group.m_drag;
      sink->OnWndMouse(m_group.Container(), m_group.m_selected, m_W, m_H, &drag, finished);
    }
  }
  CPlayWnd& m_group;
  int m_W, m_H;
};

int CPlayWnd::FullScreen(bool paneOnly) {
  LocateMonitor();
  if (paneOnly || m_arrangeType == 1) {
    CPlayWnd* none = nullptr;
    if (!g_fullScreenGroup.compare_exchange_strong(none, this)) return 0;
    std::lock_guard<std::mutex> lock(m_fullScreenMutex);
    if (m_fullScreenClosing) {
      g_fullScreenGroup = nullptr;
      return 0;
    }
    // A thread that freed the slot has nothing left to do but end.
    if (m_fullScreenThread.joinable()) m_fullScreenThread.join();
    ++m_fullScreenCount;
    m_fullScreenThread = std::thread([this] { FullScreenThread(); });
    return 0;
  }
  // Already enlarged (or a pane is): saving again would make the desktop size the one Escape
  // goes back to.
  if (m_fullScreenCount > 0) return 0;
  m_savedWidth = m_width.load();
  m_savedHeight = m_height.load();
  auto desktop = m_display.DesktopSize();
  m_width = desktop.width;
  m_height = desktop.height;
  RestoreRegion();
  ++m_fullScreenCount;
  return 0;
}

void CPlayWnd::FullScreenThread() {
  platform::display::IDisplay* display = &m_display;
  auto screen = display->PrimaryScreenSize();
  const int W = screen.width, H = screen.height;
  FullScreenDialog dialog(*this, W, H);
  Rect video = layout::FullScreenVideoRect(W, H, m_monitorLeft, m_monitorTop, m_ratioType, m_corridorMode);
  dialog.m_videoRect = video;
  dialog.m_dialog = display->CreateTopmost(MakeRect(m_monitorLeft, m_monitorTop, W, H), &dialog);
  bool closing;
  {
    std::lock_guard<std::mutex> lock(m_fullScreenMutex);
    closing = m_fullScreenClosing;
    if (!closing) m_fullScreenDialog = dialog.m_dialog;
  }
  bool run = false;
  if (closing) {
    // The group is going away: it did not see this dialog, which must not wait for a user.
    if (dialog.m_dialog) display->Destroy(dialog.m_dialog);
  } else if (dialog.m_dialog) {
    dialog.m_video = display->CreateChild(
        dialog.m_dialog, MakeRect(video.left - m_monitorLeft, video.top - m_monitorTop, video.Width(), video.Height()),
        &dialog);
    run = true;
    if (!m_eventSink) {
      display->Show(dialog.m_dialog, true);  // black, until closed
    } else {
      int player = m_eventSink->GetPlayerHandle(m_container, m_selected);
      if (!IsPlayer(player)) {
        display->Destroy(dialog.m_dialog);
        run = false;
      } else {
        PlayInto(player, dialog.m_video);
        RefreshPlayer(player);
        display->Show(dialog.m_dialog, true);
        display->Activate(dialog.m_dialog);
      }
    }
  }
  if (run) display->RunLoop();
  {
    std::lock_guard<std::mutex> lock(m_fullScreenMutex);
    m_fullScreenDialog = 0;
    closing = m_fullScreenClosing;
  }
  --m_fullScreenCount;
  // A group going away has no pane to give the video back to.
  if (m_eventSink && !closing) {
    int selected = m_selected;
    int player = m_eventSink->GetPlayerHandle(m_container, selected);
    if (IsPlayer(player)) PlayInto(player, Pane(selected));
    m_eventSink->OnWndMouse(m_container, selected, 0, 0, nullptr, true);
  }
  // Last: a new pane full screen joins this thread, possibly with the sessions lock held.
  g_fullScreenGroup = nullptr;
}

void CPlayWnd::CloseFullScreen() {
  WindowId dialog;
  {
    std::lock_guard<std::mutex> lock(m_fullScreenMutex);
    m_fullScreenClosing = true;
    dialog = m_fullScreenDialog;
  }
  // Handled on the dialog's thread, which then leaves its loop.
  if (dialog) m_display.Destroy(dialog);
}

void CPlayWnd::JoinFullScreen() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(m_fullScreenMutex);
    thread.swap(m_fullScreenThread);
  }
  if (thread.joinable()) thread.join();
}
