#include <algorithm>
#include <cstdlib>

#include "platform/display/x11/X11Internal.h"

namespace platform::display {

void X11Canvas::UsePen(const Pen& pen) {
  XSetForeground(m_conn.dpy, m_conn.gc, m_conn.Pixel(pen.color));
  // A one-pixel pen draws thin lines, exactly on the pixels given.
  XSetLineAttributes(m_conn.dpy, m_conn.gc, pen.width <= 1 ? 0 : pen.width, LineSolid, CapButt, JoinMiter);
}

void X11Canvas::FillRect(const Rect& rect, ColorRef color) {
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  XSetForeground(m_conn.dpy, m_conn.gc, m_conn.Pixel(color));
  XFillRectangle(m_conn.dpy, m_target, m_conn.gc, rect.left, rect.top, rect.Width(), rect.Height());
  m_drew = true;
}

void X11Canvas::DrawRectangle(const Rect& rect, const std::optional<Pen>& pen,
                              const std::optional<ColorRef>& brush) {
  if (brush) FillRect(rect, *brush);
  if (pen && rect.Width() > 0 && rect.Height() > 0) {
    UsePen(*pen);
    XDrawRectangle(m_conn.dpy, m_target, m_conn.gc, rect.left, rect.top, rect.Width() - 1, rect.Height() - 1);
    m_drew = true;
  }
}

void X11Canvas::DrawLine(Point from, Point to, const Pen& pen) {
  UsePen(pen);
  XDrawLine(m_conn.dpy, m_target, m_conn.gc, from.x, from.y, to.x, to.y);
  m_drew = true;
}

void X11Canvas::DrawEllipse(const Rect& box, const std::optional<Pen>& pen,
                            const std::optional<ColorRef>& brush) {
  int x = std::min(box.left, box.right), y = std::min(box.top, box.bottom);
  int w = std::abs(box.Width()), h = std::abs(box.Height());
  if (w == 0 || h == 0) return;
  if (brush) {
    XSetForeground(m_conn.dpy, m_conn.gc, m_conn.Pixel(*brush));
    XFillArc(m_conn.dpy, m_target, m_conn.gc, x, y, w, h, 0, 360 * 64);
  }
  if (pen) {
    UsePen(*pen);
    XDrawArc(m_conn.dpy, m_target, m_conn.gc, x, y, w - 1, h - 1, 0, 360 * 64);
  }
  m_drew = true;
}

void X11Canvas::DrawTextCentered(const Rect& box, const std::string& text, const Font& font, ColorRef color) {
  XFontStruct* fs = m_conn.LoadFont(font);
  if (!fs) return;
  int width = XTextWidth(fs, text.c_str(), static_cast<int>(text.size()));
  int x = box.left + (box.Width() - width) / 2;
  int y = box.top + (box.Height() - (fs->ascent + fs->descent)) / 2 + fs->ascent;
  XSetFont(m_conn.dpy, m_conn.gc, fs->fid);
  XSetForeground(m_conn.dpy, m_conn.gc, m_conn.Pixel(color));
  XDrawString(m_conn.dpy, m_target, m_conn.gc, x, y, text.c_str(), static_cast<int>(text.size()));
  m_drew = true;
}

void X11Canvas::DrawTextAt(Point origin, const std::string& text, const Font& font, ColorRef color) {
  XFontStruct* fs = m_conn.LoadFont(font);
  if (!fs) return;
  XSetFont(m_conn.dpy, m_conn.gc, fs->fid);
  XSetForeground(m_conn.dpy, m_conn.gc, m_conn.Pixel(color));
  XDrawString(m_conn.dpy, m_target, m_conn.gc, origin.x, origin.y + fs->ascent, text.c_str(),
              static_cast<int>(text.size()));
  m_drew = true;
}

}  // namespace platform::display
