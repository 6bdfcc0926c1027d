// The container and pane procedures: painting the frames and the highlight, selection by click,
// drags and the zoom rectangle, Escape out of full screen, desktop lock and unlock. Window thread.
#include "service/events/IEvent.h"
#include "service/windows/CPlayWnd.h"
#include "service/windows/PlayWndClasses.h"

using platform::display::ICanvas;
using platform::display::Key;
using platform::display::MouseAction;
using platform::display::Point;
using platform::display::Rect;
using platform::display::WindowId;

void CPlayWnd::WindowDelegate::OnPaint(WindowId w, ICanvas& canvas) {
  WindowEvent e;
  e.kind = WindowEvent::Kind::Paint;
  e.canvas = &canvas;
  Dispatch(w, e);
}

void CPlayWnd::WindowDelegate::OnSize(WindowId w, int width, int height) {
  WindowEvent e;
  e.kind = WindowEvent::Kind::Size;
  e.width = width;
  e.height = height;
  Dispatch(w, e);
}

void CPlayWnd::WindowDelegate::OnMouse(WindowId w, MouseAction action, int x, int y) {
  WindowEvent e;
  e.kind = WindowEvent::Kind::Mouse;
  e.action = action;
  e.x = x;
  e.y = y;
  Dispatch(w, e);
}

void CPlayWnd::WindowDelegate::OnKey(WindowId w, Key key) {
  WindowEvent e;
  e.kind = WindowEvent::Kind::Key;
  e.key = key;
  Dispatch(w, e);
}

void CPlayWnd::WindowDelegate::OnDestroy(WindowId w) {
  WindowEvent e;
  e.kind = WindowEvent::Kind::Destroy;
  Dispatch(w, e);
}

void CPlayWnd::WindowDelegate::OnSessionLock(WindowId w, bool locked) {
  WindowEvent e;
  e.kind = WindowEvent::Kind::SessionLock;
  e.locked = locked;
  Dispatch(w, e);
}

void CPlayWnd::WindowDelegate::Dispatch(WindowId w, WindowEvent& e) {
  e.window = w;
  if (m_forContainer)
    m_group.ContainerProc(e);
  else
    m_group.PaneProc(e);
}

namespace {

void DrawFrameLines(ICanvas& canvas, const Rect& f, const platform::display::Pen& pen) {
  canvas.DrawLine(Point{f.left, f.top}, Point{f.left, f.bottom}, pen);
  canvas.DrawLine(Point{f.left, f.bottom}, Point{f.right, f.bottom}, pen);
  canvas.DrawLine(Point{f.right, f.bottom}, Point{f.right, f.top}, pen);
  canvas.DrawLine(Point{f.right, f.top}, Point{f.left, f.top}, pen);
}

}  // namespace

Rect CPlayWnd::SelectedFrame() {
  int selected = m_selected;
  GetPaneSize(selected);
  return layout::ClippedFrame(layout::FrameRect(m_arrangeType, m_columns, selected, m_width, m_height), m_width,
                              m_height);
}

void CPlayWnd::PaintContainer(ICanvas& canvas) {
  const int width = m_width, height = m_height, paneCount = m_paneCount, selected = m_selected;
  canvas.FillRect(Rect{0, 0, width, height}, m_background);
  Rect kept;
  if (paneCount == 1) {
    if (m_paneDirty[selected]) PlacePane(selected);
  } else {
    for (int i = 0; i < paneCount && i < kPanes; ++i) {
      GetPaneSize(i);
      if (m_paneDirty[i]) PlacePane(i);
      Rect frame = layout::FrameRect(m_arrangeType, m_columns, i, width, height);
      if (i == selected)
        kept = layout::ClippedFrame(frame, width, height);
      else
        canvas.DrawRectangle(frame, m_borderPen, m_background);
    }
  }
  for (auto& dirty : m_paneDirty) dirty = 0;
  if (paneCount != 1 && kept.right != 0) DrawFrameLines(canvas, kept, m_highlightPen);
  m_lastHighlight = kept;
}

void CPlayWnd::PaintHighlightOnly(ICanvas& canvas) {
  Rect frame = SelectedFrame();
  DrawFrameLines(canvas, m_lastHighlight, m_borderPen);
  DrawFrameLines(canvas, frame, m_highlightPen);
  m_lastHighlight = frame;
}

void CPlayWnd::ContainerProc(const WindowEvent& e) {
  WindowId container = e.window;
  switch (e.kind) {
    case WindowEvent::Kind::Destroy:
      m_display.WatchSessionLock(container, false);
      m_display.PostQuit();
      break;
    case WindowEvent::Kind::Size: {
      for (int i = 0; i < m_paneCount && i < kPanes; ++i) m_paneDirty[i] = 3;
      m_display.Invalidate(container);
      int selected = m_selected;
      ZoomRect zoom;
      {
        std::lock_guard<std::mutex> lock(m_zoomMutex);
        layout::ZoomFromPercent(m_paneWidth[selected], m_paneHeight[selected], m_zoomX, m_zoomY,
                                &m_zoom[selected]);
        zoom = m_zoom[selected];
      }
      if (m_eventSink) m_eventSink->OnZoomRectChanged(container, selected, &zoom);
      break;
    }
    case WindowEvent::Kind::Paint:
      if (m_mouseDown)
        PaintHighlightOnly(*e.canvas);
      else
        PaintContainer(*e.canvas);
      if (m_eventSink) m_eventSink->OnWndPainted(container);
      // Escape must reach the container while it covers the screen; not while a pane's dialog,
      // which owns the keyboard as a modal dialog would, is up.
      if (m_fullScreenCount > 0 && !m_fullScreenDialog) m_display.SetFocus(container);
      break;
    case WindowEvent::Kind::Key:
      // The dialog's own count is its to give back; its owner takes no input meanwhile.
      if (e.key == Key::Escape && m_fullScreenCount > 0 && !m_fullScreenDialog) {
        m_width = m_savedWidth.load();
        m_height = m_savedHeight.load();
        m_display.Move(container, platform::display::MakeRect(m_x, m_y, m_width, m_height));
        --m_fullScreenCount;
      }
      break;
    case WindowEvent::Kind::SessionLock:
      if (!m_visible) break;
      if (e.locked) {
        m_hiddenByLock = true;
        if (m_eventSink) m_eventSink->OnWndHidden(container, 1);
        m_display.Show(container, false);
      } else {
        m_display.Show(container, true);
        if (m_eventSink) m_eventSink->OnWndHidden(container, 0);
      }
      break;
    case WindowEvent::Kind::Mouse:
      break;
  }
}

void CPlayWnd::ReportMouse(bool finished) {
  if (!m_eventSink) return;
  int selected = m_selected;
  layout::PaneSize s = GetPaneSize(selected);
  DragRect drag = m_drag;
  m_eventSink->OnWndMouse(m_container, selected, s.width, s.height, &drag, finished);
}

void CPlayWnd::PaneProc(const WindowEvent& e) {
  switch (e.kind) {
    case WindowEvent::Kind::Destroy:
      m_display.PostQuit();
      break;
    case WindowEvent::Kind::Paint: {
      int index = PaneIndexOf(e.window);
      if (index < 0) index = 0;
      if (m_paneRepaint[index].exchange(false))
        e.canvas->FillRect(Rect{0, 0, m_paneWidth[index], m_paneHeight[index]}, m_background);
      break;
    }
    case WindowEvent::Kind::Mouse:
      OnPaneMouse(PaneIndexOf(e.window), e.action, e.x, e.y);
      break;
    default:
      break;
  }
}

void CPlayWnd::OnPaneMouse(int index, MouseAction action, int x, int y) {
  WindowId container = m_container;
  if (index < 0) index = 0;
  switch (action) {
    case MouseAction::LeftDown: {
      m_mouseDown = true;
      if (m_paneCount != 1) {
        m_selected = index;
        m_display.Invalidate(container);
        if (m_eventSink) m_eventSink->OnWndSelected(container, index);
      }
      m_drag = DragRect{x, y, x, y};
      ReportMouse(false);
      std::lock_guard<std::mutex> lock(m_zoomMutex);
      ZoomRect& z = m_zoom[m_selected];
      if (z.left <= x && x <= z.right && z.top <= y && y <= z.bottom) {
        z.startX = z.curX = x;
        z.startY = z.curY = y;
        z.dragging = true;
      }
      break;
    }
    case MouseAction::Move: {
      if (!m_mouseDown) break;
      m_drag.curX = x;
      m_drag.curY = y;
      ReportMouse(false);
      int selected = m_selected;
      ZoomRect zoom;
      {
        std::lock_guard<std::mutex> lock(m_zoomMutex);
        ZoomRect& z = m_zoom[selected];
        if (!z.dragging) break;
        z.startX = z.curX;
        z.startY = z.curY;
        z.curX = x;
        z.curY = y;
        layout::DragZoom(m_paneWidth[selected], m_paneHeight[selected], z.curX - z.startX, z.curY - z.startY, &z);
        zoom = z;
      }
      if (m_eventSink) m_eventSink->OnZoomRectChanged(container, selected, &zoom);
      break;
    }
    case MouseAction::LeftUp: {
      if (!m_mouseDown) break;
      m_mouseDown = false;
      m_drag.curX = x;
      m_drag.curY = y;
      ReportMouse(true);
      std::lock_guard<std::mutex> lock(m_zoomMutex);
      m_zoom[m_selected].dragging = false;
      break;
    }
    case MouseAction::Leave:
      if (!m_mouseDown) break;
      m_mouseDown = false;
      ReportMouse(true);
      break;
    case MouseAction::LeftDoubleClick:
      if (m_eventSink) {
        int selected = m_selected;
        m_eventSink->OnWndDoubleClick(container, selected);
        m_eventSink->OnWndMouse(container, selected, 0, 0, nullptr, true);
      }
      break;
    case MouseAction::RightUp:
      if (m_eventSink) m_eventSink->OnWndMouse(container, m_selected, 0, 0, nullptr, true);
      break;
  }
}
