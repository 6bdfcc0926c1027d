#include "platform/display/x11/X11Display.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/display/x11/X11Internal.h"

namespace platform::display {

namespace {

thread_local int t_lastError = 0;

int IgnoreError(::Display*, XErrorEvent* e) {
  // Windows of other programs vanish at any time; a failed request is reported by its caller's
  // check, never by ending the process.
  t_lastError = e->error_code ? e->error_code : 1;
  return 0;
}

// The X server is gone: nothing can be shown any more and the watchdog starts a new service.
// Xlib's own handler calls exit() from whichever thread noticed first, and exit's destructors
// then raced the threads still drawing: now and then the way out crashed. It ends at once.
[[noreturn]] void EndOnLostDisplay() {
  std::fputs("The X display is gone: the service ends.\n", stderr);
  std::fflush(nullptr);
  _exit(1);
}

int DisplayLost(::Display*) { EndOnLostDisplay(); }

std::atomic<int> g_generation{0};
thread_local std::map<int, std::unique_ptr<X11Connection>> t_connections;

constexpr long kInputMask = ExposureMask | StructureNotifyMask | KeyPressMask | ButtonPressMask |
                            ButtonReleaseMask | PointerMotionMask | LeaveWindowMask;
constexpr Time kDoubleClickMs = 500;
constexpr int kDoubleClickSlop = 4;

int Positive(int v) { return v > 0 ? v : 1; }

std::string ReadTextProperty(::Display* dpy, ::Window w, Atom property, Atom type) {
  Atom actualType;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string out;
  if (XGetWindowProperty(dpy, w, property, 0, 1024, False, type, &actualType, &format, &count, &after,
                         &data) == Success &&
      data) {
    if (format == 8) out.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
  }
  return out;
}

// A property of 32-bit items (windows, cardinals) as longs, as Xlib hands them out.
std::vector<long> ReadLongs(::Display* dpy, ::Window w, Atom property, Atom type) {
  Atom actualType;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::vector<long> out;
  if (XGetWindowProperty(dpy, w, property, 0, 65536, False, type, &actualType, &format, &count, &after,
                         &data) == Success &&
      data) {
    if (format == 32 && actualType == type) {
      auto* items = reinterpret_cast<long*>(data);
      out.assign(items, items + count);
    }
    XFree(data);
  }
  return out;
}

std::vector<::Window> ReadWindowList(::Display* dpy, ::Window w, Atom property) {
  std::vector<::Window> out;
  for (long id : ReadLongs(dpy, w, property, XA_WINDOW)) out.push_back(static_cast<::Window>(id));
  return out;
}

bool HasProperty(::Display* dpy, ::Window w, Atom property) {
  Atom actualType = None;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  bool has = XGetWindowProperty(dpy, w, property, 0, 0, False, AnyPropertyType, &actualType, &format, &count,
                                &after, &data) == Success &&
             actualType != None;
  if (data) XFree(data);
  return has;
}

// The application's window inside a window manager's frame: the first window at or below `top`
// that carries WM_STATE, which the manager sets on the windows it manages; `top` itself when
// none does (no window manager).
::Window ClientWindowOf(::Display* dpy, ::Window top, Atom wmState) {
  std::vector<::Window> level = {top};
  // Frames nest a few levels at most (frame, decoration parent, client).
  for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
    std::vector<::Window> next;
    for (::Window w : level) {
      if (HasProperty(dpy, w, wmState)) return w;
      ::Window rootRet, parentRet, *children = nullptr;
      unsigned int n = 0;
      if (XQueryTree(dpy, w, &rootRet, &parentRet, &children, &n) && children) {
        next.insert(next.end(), children, children + n);
        XFree(children);
      }
    }
    level = std::move(next);
  }
  return top;
}

void SendClientMessage(::Display* dpy, ::Window w, Atom type, long value = 0) {
  XEvent ev{};
  ev.xclient.data.l[0] = value;
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = type;
  ev.xclient.format = 32;
  // No event mask: the event goes to the client that created the window, its owner's loop.
  XSendEvent(dpy, w, False, 0, &ev);
  XFlush(dpy);
}

}  // namespace

int& LastX11Error() { return t_lastError; }

X11Connection::~X11Connection() {
  if (!dpy) return;
  if (shmImage) {
    XShmDetach(dpy, &shm);
    XDestroyImage(shmImage);
    shmdt(shm.shmaddr);
  }
  if (scratch) XFreePixmap(dpy, scratch);
  if (xvImage) {
    XShmDetach(dpy, &xvShm);
    XFree(xvImage);
    shmdt(xvShm.shmaddr);
  }
  if (xvPort) XvUngrabPort(dpy, xvPort, CurrentTime);
  for (auto& [key, font] : fonts) XFreeFont(dpy, font);
  if (gc) XFreeGC(dpy, gc);
  XCloseDisplay(dpy);
}

unsigned long X11Connection::Pixel(ColorRef color) const {
  auto place = [](unsigned long mask, int value) -> unsigned long {
    if (mask == 0) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    int bits = 0;
    while ((mask >> (shift + bits)) & 1) ++bits;
    unsigned long v = bits >= 8 ? (static_cast<unsigned long>(value) << (bits - 8))
                                : (static_cast<unsigned long>(value) >> (8 - bits));
    return (v << shift) & mask;
  };
  return place(visual->red_mask, RedOf(color)) | place(visual->green_mask, GreenOf(color)) |
         place(visual->blue_mask, BlueOf(color));
}

XFontStruct* X11Connection::LoadFont(const Font& font) {
  long key = static_cast<long>(font.height) * 10000 + font.weight;
  auto it = fonts.find(key);
  if (it != fonts.end()) return it->second;
  const char* weight = font.weight >= 600 ? "bold" : "medium";
  std::string candidates[] = {
      "-*-helvetica-" + std::string(weight) + "-r-normal--" + std::to_string(font.height) + "-*-*-*-*-*-iso8859-1",
      "-*-*-" + std::string(weight) + "-r-normal--" + std::to_string(font.height) + "-*-*-*-*-*-iso8859-1",
      font.height >= 18 ? "10x20" : "fixed",
      "fixed"};
  XFontStruct* loaded = nullptr;
  for (const auto& name : candidates)
    if ((loaded = XLoadQueryFont(dpy, name.c_str()))) break;
  fonts[key] = loaded;
  return loaded;
}

std::unique_ptr<X11Connection> X11Display::Impl::Connect() {
  ::Display* dpy = XOpenDisplay(name.empty() ? nullptr : name.c_str());
  if (!dpy) return nullptr;
  auto conn = std::make_unique<X11Connection>();
  conn->dpy = dpy;
  conn->screen = DefaultScreen(dpy);
  conn->root = RootWindow(dpy, conn->screen);
  conn->visual = DefaultVisual(dpy, conn->screen);
  conn->depth = DefaultDepth(dpy, conn->screen);
  // No GraphicsExpose/NoExpose events for copies: nothing reads them, and on the presenting
  // connection they would pile up in Xlib's queue, one per frame.
  XGCValues values{};
  values.graphics_exposures = False;
  conn->gc = XCreateGC(dpy, conn->root, GCGraphicsExposures, &values);
  conn->paintAtom = XInternAtom(dpy, "_NIMBREL_PAINT", False);
  conn->destroyAtom = XInternAtom(dpy, "_NIMBREL_DESTROY", False);
  conn->lockAtom = XInternAtom(dpy, "_NIMBREL_SESSION_LOCK", False);
  return conn;
}

X11Connection* X11Display::Impl::OpenConnection() {
  auto conn = Connect();
  if (!conn) return nullptr;
  X11Connection* raw = conn.get();
  t_connections[generation] = std::move(conn);
  return raw;
}

X11Connection* X11Display::Impl::VideoConn() {
  if (video) return video.get();
  const auto now = std::chrono::steady_clock::now();
  if (now < videoRetryAt) return nullptr;
  video = Connect();
  if (!video) videoRetryAt = now + std::chrono::seconds(1);
  return video.get();
}

X11Connection& X11Display::Impl::Conn() {
  auto it = t_connections.find(generation);
  if (it != t_connections.end()) return *it->second;
  X11Connection* conn = OpenConnection();
  if (!conn) EndOnLostDisplay();  // the server went away after start-up
  return *conn;
}

std::unique_ptr<X11Display> X11Display::Open(const std::string& displayName) {
  XSetErrorHandler(IgnoreError);
  XSetIOErrorHandler(DisplayLost);
  auto impl = std::make_unique<Impl>();
  impl->name = displayName;
  impl->generation = ++g_generation;
  if (!impl->OpenConnection()) return nullptr;
  return std::unique_ptr<X11Display>(new X11Display(std::move(impl)));
}

X11Display::X11Display(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) { SetVideoOutput(this); }

X11Display::~X11Display() {
  // Its thread reaches the registry; it ends before anything else goes.
  {
    std::lock_guard<std::mutex> lock(m_impl->lockMutex);
    m_impl->lockWatcher.reset();
  }
  if (GetVideoOutput() == this) SetVideoOutput(nullptr);
  t_connections.erase(m_impl->generation);
}

void X11Display::Sync() { XSync(m_impl->Conn().dpy, False); }

std::optional<ColorRef> X11Display::ScreenPixel(int x, int y) {
  X11Connection& c = m_impl->Conn();
  XImage* image = XGetImage(c.dpy, c.root, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return std::nullopt;
  unsigned long p = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  XColor color;
  color.pixel = p;
  XQueryColor(c.dpy, DefaultColormap(c.dpy, c.screen), &color);
  return MakeColor(color.red >> 8, color.green >> 8, color.blue >> 8);
}

std::vector<TopLevelWindow> X11Display::ListTopLevelWindows() {
  X11Connection& c = m_impl->Conn();
  std::vector<::Window> order =
      ReadWindowList(c.dpy, c.root, XInternAtom(c.dpy, "_NET_CLIENT_LIST_STACKING", False));
  if (order.empty()) {
    // No list (no window manager, or one that writes it only once windows are restacked, as
    // xfwm4 does while it manages a single window): the root's children in stacking order, each
    // taken for the application window inside it rather than the manager's frame.
    ::Window rootRet, parentRet, *children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(c.dpy, c.root, &rootRet, &parentRet, &children, &n) && children) {
      Atom wmState = XInternAtom(c.dpy, "WM_STATE", False);
      for (unsigned int i = 0; i < n; ++i) order.push_back(ClientWindowOf(c.dpy, children[i], wmState));
      XFree(children);
    }
  }
  std::reverse(order.begin(), order.end());  // the server lists bottom first
  std::vector<TopLevelWindow> out;
  for (::Window w : order) {
    auto rect = GetWindowRect(w);
    if (!rect) continue;
    TopLevelWindow t;
    t.id = w;
    t.rect = *rect;
    t.caption = GetCaption(w).value_or("");
    t.className = GetClassName(w).value_or("");
    t.visible = IsVisible(w);
    out.push_back(t);
  }
  return out;
}

std::vector<WindowId> X11Display::ListChildren(WindowId parent) {
  X11Connection& c = m_impl->Conn();
  ::Window rootRet, parentRet, *children = nullptr;
  unsigned int n = 0;
  std::vector<WindowId> out;
  if (XQueryTree(c.dpy, parent, &rootRet, &parentRet, &children, &n) && children) {
    for (unsigned int i = n; i > 0; --i) out.push_back(children[i - 1]);
    XFree(children);
  }
  return out;
}

std::optional<Rect> X11Display::GetWindowRect(WindowId window) {
  X11Connection& c = m_impl->Conn();
  XWindowAttributes a;
  if (!XGetWindowAttributes(c.dpy, window, &a)) return std::nullopt;
  int x = 0, y = 0;
  ::Window child;
  if (!XTranslateCoordinates(c.dpy, window, c.root, 0, 0, &x, &y, &child)) return std::nullopt;
  {
    // Our windows may be asked for a zero size, which X cannot hold; report what was asked.
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->windows.find(window);
    if (it != m_impl->windows.end()) return MakeRect(x, y, it->second.rect.Width(), it->second.rect.Height());
  }
  Rect rect = MakeRect(x, y, a.width, a.height);
  // A window that draws its own frame (Chromium, GTK programs) reaches beyond what it shows by
  // its shadows and resize borders, and says by how much (left, right, top, bottom). Its
  // rectangle is the part it shows, where a page's coordinates start - as a window manager's own
  // frame is never part of the application window's rectangle either.
  std::vector<long> extents =
      ReadLongs(c.dpy, window, XInternAtom(c.dpy, "_GTK_FRAME_EXTENTS", False), XA_CARDINAL);
  if (extents.size() == 4 && std::all_of(extents.begin(), extents.end(), [](long e) { return e >= 0; }) &&
      extents[0] + extents[1] < a.width && extents[2] + extents[3] < a.height) {
    rect.left += static_cast<int>(extents[0]);
    rect.right -= static_cast<int>(extents[1]);
    rect.top += static_cast<int>(extents[2]);
    rect.bottom -= static_cast<int>(extents[3]);
  }
  return rect;
}

std::optional<std::string> X11Display::GetCaption(WindowId window) {
  X11Connection& c = m_impl->Conn();
  std::string name = ReadTextProperty(c.dpy, window, XInternAtom(c.dpy, "_NET_WM_NAME", False),
                                      XInternAtom(c.dpy, "UTF8_STRING", False));
  if (!name.empty()) return name;
  char* fetched = nullptr;
  if (XFetchName(c.dpy, window, &fetched) && fetched) {
    name = fetched;
    XFree(fetched);
  }
  return name;
}

std::optional<std::string> X11Display::GetClassName(WindowId window) {
  X11Connection& c = m_impl->Conn();
  XClassHint hint{};
  if (!XGetClassHint(c.dpy, window, &hint)) return std::string();
  std::string out = hint.res_class ? hint.res_class : "";
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return out;
}

bool X11Display::IsVisible(WindowId window) {
  X11Connection& c = m_impl->Conn();
  XWindowAttributes a;
  return XGetWindowAttributes(c.dpy, window, &a) && a.map_state == IsViewable;
}

namespace {

::Window CreateWindowOn(X11Connection& c, ::Window parent, const Rect& rect, bool overrideRedirect) {
  XSetWindowAttributes attrs{};
  // Children have no background of their own: like windows that do not erase, they keep what
  // their parent painted over them until they paint themselves (or video arrives).
  attrs.background_pixmap = None;
  attrs.background_pixel = BlackPixel(c.dpy, c.screen);
  attrs.border_pixel = 0;
  // Keys go to the focus window, never to a child under the pointer: a pane selecting them would
  // swallow the Escape meant for its container (X delivers keys to the inferior holding the pointer).
  attrs.event_mask = parent == c.root ? kInputMask : kInputMask & ~KeyPressMask;
  attrs.override_redirect = overrideRedirect ? True : False;
  attrs.bit_gravity = ForgetGravity;
  return XCreateWindow(c.dpy, parent, rect.left, rect.top, Positive(rect.Width()), Positive(rect.Height()),
                       0, CopyFromParent, InputOutput, CopyFromParent,
                       (parent == c.root ? CWBackPixel : CWBackPixmap) | CWBorderPixel | CWEventMask |
                           CWOverrideRedirect | CWBitGravity,
                       &attrs);
}

void SetUndecorated(X11Connection& c, ::Window w, const Rect& rect) {
  struct {
    unsigned long flags, functions, decorations;
    long inputMode;
    unsigned long status;
  } motif = {2, 0, 0, 0, 0};
  Atom motifAtom = XInternAtom(c.dpy, "_MOTIF_WM_HINTS", False);
  XChangeProperty(c.dpy, w, motifAtom, motifAtom, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&motif), 5);
  Atom states[] = {XInternAtom(c.dpy, "_NET_WM_STATE_SKIP_TASKBAR", False),
                   XInternAtom(c.dpy, "_NET_WM_STATE_SKIP_PAGER", False)};
  XChangeProperty(c.dpy, w, XInternAtom(c.dpy, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(states), 2);
  XSizeHints hints{};
  // Static gravity: the positions we ask for are those of the window itself, not of a frame a
  // window manager may still put around it (a border kept on undecorated windows).
  hints.flags = USPosition | USSize | PPosition | PSize | PWinGravity;
  hints.win_gravity = StaticGravity;
  hints.x = rect.left;
  hints.y = rect.top;
  hints.width = Positive(rect.Width());
  hints.height = Positive(rect.Height());
  XSetWMNormalHints(c.dpy, w, &hints);
}

}  // namespace

WindowId X11Display::CreateContainer(WindowId owner, const Rect& rect, IWindowDelegate* delegate) {
  X11Connection& c = m_impl->Conn();
  ::Window w = CreateWindowOn(c, c.root, rect, false);
  if (!w) return 0;
  if (owner) XSetTransientForHint(c.dpy, w, owner);
  SetUndecorated(c, w, rect);
  XStoreName(c.dpy, w, "Caption");
  XClassHint cls{const_cast<char*>("nimbrelsvc"), const_cast<char*>("WindowClass")};
  XSetClassHint(c.dpy, w, &cls);
  XFlush(c.dpy);
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->windows[w] = X11Window{std::this_thread::get_id(), &c, delegate, 0, rect, 0, 0, 0, false, rect.Width(), rect.Height()};
  return w;
}

WindowId X11Display::CreateChild(WindowId parent, const Rect& rect, IWindowDelegate* delegate) {
  X11Connection& c = m_impl->Conn();
  ::Window w = CreateWindowOn(c, parent, rect, false);
  if (!w) return 0;
  XMapWindow(c.dpy, w);
  XFlush(c.dpy);
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->windows[w] = X11Window{std::this_thread::get_id(), &c, delegate, parent, rect, 0, 0, 0, false, rect.Width(), rect.Height()};
  return w;
}

WindowId X11Display::CreateTopmost(const Rect& rect, IWindowDelegate* delegate) {
  X11Connection& c = m_impl->Conn();
  ::Window w = CreateWindowOn(c, c.root, rect, true);
  if (!w) return 0;
  XFlush(c.dpy);
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->windows[w] = X11Window{std::this_thread::get_id(), &c, delegate, 0, rect, 0, 0, 0, true, rect.Width(), rect.Height()};
  return w;
}

bool X11Display::Move(WindowId window, const Rect& rect) {
  X11Connection& c = m_impl->Conn();
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->windows.find(window);
    if (it == m_impl->windows.end()) return false;
    it->second.rect = rect;
  }
  LastX11Error() = 0;
  XMoveResizeWindow(c.dpy, window, rect.left, rect.top, Positive(rect.Width()), Positive(rect.Height()));
  XSync(c.dpy, False);
  return LastX11Error() == 0;
}

bool X11Display::Show(WindowId window, bool show) {
  X11Connection& c = m_impl->Conn();
  bool topmost = false;
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->windows.find(window);
    if (it == m_impl->windows.end()) return false;
    topmost = it->second.topmost;
  }
  if (show) {
    XMapWindow(c.dpy, window);
    if (topmost) XRaiseWindow(c.dpy, window);
  } else {
    XUnmapWindow(c.dpy, window);
  }
  XFlush(c.dpy);
  return true;
}

bool X11Display::Activate(WindowId window) {
  X11Connection& c = m_impl->Conn();
  XRaiseWindow(c.dpy, window);
  XFlush(c.dpy);
  return SetFocus(window);
}

bool X11Display::SetFocus(WindowId window) {
  X11Connection& c = m_impl->Conn();
  // Focusing a window that is not viewable is an error; it gets the focus when shown instead.
  if (!IsVisible(window)) return false;
  LastX11Error() = 0;
  XSetInputFocus(c.dpy, window, RevertToParent, CurrentTime);
  XSync(c.dpy, False);
  return LastX11Error() == 0;
}

bool X11Display::SetRegion(WindowId window, const std::vector<Point>& polygon) {
  X11Connection& c = m_impl->Conn();
  LastX11Error() = 0;
  if (polygon.empty()) {
    XShapeCombineMask(c.dpy, window, ShapeBounding, 0, 0, None, ShapeSet);
  } else {
    std::vector<XPoint> points;
    for (const auto& p : polygon) points.push_back(XPoint{static_cast<short>(p.x), static_cast<short>(p.y)});
    Region region = XPolygonRegion(points.data(), static_cast<int>(points.size()), EvenOddRule);
    XShapeCombineRegion(c.dpy, window, ShapeBounding, 0, 0, region, ShapeSet);
    XDestroyRegion(region);
  }
  XSync(c.dpy, False);
  return LastX11Error() == 0;
}

bool X11Display::Invalidate(WindowId window) {
  X11Connection& c = m_impl->Conn();
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->windows.find(window);
    if (it == m_impl->windows.end()) return false;
    if (it->second.owner == std::this_thread::get_id()) {
      c.invalid.insert(window);
      return true;
    }
  }
  SendClientMessage(c.dpy, window, c.paintAtom);
  return true;
}

bool X11Display::Draw(WindowId window, const std::function<void(ICanvas&)>& draw) {
  X11Connection& c = m_impl->Conn();
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->windows.count(window) == 0) return false;
  }
  X11Canvas canvas(c, window);
  draw(canvas);
  XFlush(c.dpy);
  return true;
}

void X11Display::Destroy(WindowId window) {
  X11Connection& c = m_impl->Conn();
  std::vector<std::pair<::Window, IWindowDelegate*>> doomed;
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->windows.find(window);
    if (it == m_impl->windows.end()) return;
    if (it->second.owner != std::this_thread::get_id()) {
      SendClientMessage(c.dpy, window, c.destroyAtom);
      return;
    }
    // The window, then its children (the registry knows our windows' parents).
    doomed.emplace_back(window, it->second.delegate);
    for (size_t i = 0; i < doomed.size(); ++i)
      for (auto& [id, w] : m_impl->windows)
        if (w.parent == doomed[i].first) doomed.emplace_back(id, w.delegate);
  }
  for (auto& [w, d] : doomed)
    if (d) d->OnDestroy(w);
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  for (auto& [w, d] : doomed) {
    auto it = m_impl->windows.find(w);
    if (it == m_impl->windows.end()) continue;
    if (it->second.backing) XFreePixmap(c.dpy, it->second.backing);
    c.invalid.erase(w);
    m_impl->windows.erase(it);
  }
  XDestroyWindow(c.dpy, window);
  XFlush(c.dpy);
}

void X11Display::SetSessionLockOptions(const system::SessionLockOptions& options) {
  std::lock_guard<std::mutex> lock(m_impl->lockMutex);
  m_impl->lockOptions = options;
}

bool X11Display::WatchSessionLock(WindowId window, bool watch) {
  // The window is marked before the watcher starts: a lock it reports at once (or one that comes
  // while the first watch is being set up) must find the window already watching.
  auto mark = [this, window](bool on) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->windows.find(window);
    if (it == m_impl->windows.end()) return false;
    it->second.watchesLock = on;
    return true;
  };
  if (!mark(watch)) return false;
  if (!watch) return true;
  std::lock_guard<std::mutex> lock(m_impl->lockMutex);
  // logind is asked once: a desktop without it does not grow one later.
  if (!m_impl->lockUnavailable && !m_impl->lockWatcher) {
    auto watcher = std::make_unique<system::SessionLockWatcher>(m_impl->lockOptions);
    // Runs on the watcher's thread: each watching window hears it on its owner's loop.
    bool started = watcher->Start([this](bool locked) {
      std::vector<::Window> watching;
      {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        for (auto& [id, w] : m_impl->windows)
          if (w.watchesLock) watching.push_back(id);
      }
      X11Connection& c = m_impl->Conn();
      for (::Window w : watching) SendClientMessage(c.dpy, w, c.lockAtom, locked ? 1 : 0);
    });
    if (started)
      m_impl->lockWatcher = std::move(watcher);
    else
      m_impl->lockUnavailable = true;
  }
  if (m_impl->lockUnavailable) {
    mark(false);
    return false;
  }
  return true;
}

std::vector<Monitor> X11Display::ListMonitors() {
  X11Connection& c = m_impl->Conn();
  std::vector<Monitor> out;
  int eventBase, errorBase;
  if (XRRQueryExtension(c.dpy, &eventBase, &errorBase)) {
    int n = 0;
    XRRMonitorInfo* infos = XRRGetMonitors(c.dpy, c.root, True, &n);
    for (int i = 0; infos && i < n; ++i) {
      Monitor m;
      m.id = static_cast<std::uintptr_t>(infos[i].name);
      m.rect = m.workRect = MakeRect(infos[i].x, infos[i].y, infos[i].width, infos[i].height);
      char* name = XGetAtomName(c.dpy, infos[i].name);
      if (name) {
        m.name = name;
        XFree(name);
      }
      m.primary = infos[i].primary;
      out.push_back(m);
    }
    if (infos) XRRFreeMonitors(infos);
  }
  if (out.empty()) {
    Size s = DesktopSize();
    out.push_back(Monitor{1, MakeRect(0, 0, s.width, s.height), MakeRect(0, 0, s.width, s.height), "screen", true});
  }
  return out;
}

Size X11Display::DesktopSize() {
  X11Connection& c = m_impl->Conn();
  return Size{DisplayWidth(c.dpy, c.screen), DisplayHeight(c.dpy, c.screen)};
}

Size X11Display::PrimaryScreenSize() {
  for (const auto& m : ListMonitors())
    if (m.primary) return Size{m.rect.Width(), m.rect.Height()};
  return DesktopSize();
}

void X11Display::PostQuit() { m_impl->Conn().quit = true; }

namespace {

struct Dispatch {
  IWindowDelegate* delegate = nullptr;
  bool found = false;
};

}  // namespace

void X11Display::RunLoop() {
  X11Connection& c = m_impl->Conn();
  c.quit = false;
  auto delegateOf = [this](::Window w) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->windows.find(w);
    return it == m_impl->windows.end() ? Dispatch{} : Dispatch{it->second.delegate, true};
  };
  auto paint = [this, &c](::Window w) {
    IWindowDelegate* delegate = nullptr;
    Pixmap backing = 0;
    int width = 0, height = 0;
    {
      std::lock_guard<std::mutex> lock(m_impl->mutex);
      auto it = m_impl->windows.find(w);
      if (it == m_impl->windows.end()) return;
      X11Window& win = it->second;
      delegate = win.delegate;
      width = Positive(win.rect.Width());
      height = Positive(win.rect.Height());
      if (!win.backing || win.backingWidth != width || win.backingHeight != height) {
        if (win.backing) XFreePixmap(c.dpy, win.backing);
        win.backing = XCreatePixmap(c.dpy, w, width, height, c.depth);
        win.backingWidth = width;
        win.backingHeight = height;
        XSetForeground(c.dpy, c.gc, BlackPixel(c.dpy, c.screen));
        XFillRectangle(c.dpy, win.backing, c.gc, 0, 0, width, height);
      }
      backing = win.backing;
    }
    if (!delegate) return;
    X11Canvas canvas(c, backing);
    delegate->OnPaint(w, canvas);
    if (canvas.Drew()) {
      // A parent's paint covers its children too (their video is drawn again by its renderer).
      XSetSubwindowMode(c.dpy, c.gc, IncludeInferiors);
      XCopyArea(c.dpy, backing, w, c.gc, 0, 0, width, height, 0, 0);
      XSetSubwindowMode(c.dpy, c.gc, ClipByChildren);
    }
  };

  while (!c.quit) {
    if (XPending(c.dpy) == 0 && !c.invalid.empty()) {
      auto invalid = std::move(c.invalid);
      c.invalid.clear();
      for (::Window w : invalid) {
        paint(w);
        if (c.quit) break;
      }
      XFlush(c.dpy);
      continue;
    }
    XEvent ev;
    XNextEvent(c.dpy, &ev);
    ::Window w = ev.xany.window;
    Dispatch d = delegateOf(w);
    if (!d.found) continue;
    switch (ev.type) {
      case Expose:
        c.invalid.insert(w);
        break;
      case ConfigureNotify: {
        // The size we asked for is what the delegate sees (X cannot hold a zero size).
        int width = 0, height = 0;
        bool changed = false;
        {
          std::lock_guard<std::mutex> lock(m_impl->mutex);
          auto it = m_impl->windows.find(w);
          if (it == m_impl->windows.end()) break;
          X11Window& win = it->second;
          width = win.rect.Width();
          height = win.rect.Height();
          changed = width != win.notifiedWidth || height != win.notifiedHeight;
          win.notifiedWidth = width;
          win.notifiedHeight = height;
        }
        if (changed) {
          if (d.delegate) d.delegate->OnSize(w, width, height);
          c.invalid.insert(w);
        }
        break;
      }
      case ClientMessage:
        if (static_cast<Atom>(ev.xclient.message_type) == c.paintAtom)
          c.invalid.insert(w);
        else if (static_cast<Atom>(ev.xclient.message_type) == c.destroyAtom)
          Destroy(w);
        else if (static_cast<Atom>(ev.xclient.message_type) == c.lockAtom && d.delegate)
          d.delegate->OnSessionLock(w, ev.xclient.data.l[0] != 0);
        break;
      case ButtonPress:
        if (ev.xbutton.button == Button1 && d.delegate) {
          bool dbl = c.lastPressWindow == w && ev.xbutton.time - c.lastPressTime <= kDoubleClickMs &&
                     std::abs(ev.xbutton.x - c.lastPressX) <= kDoubleClickSlop &&
                     std::abs(ev.xbutton.y - c.lastPressY) <= kDoubleClickSlop;
          c.lastPressWindow = dbl ? 0 : w;
          c.lastPressTime = ev.xbutton.time;
          c.lastPressX = ev.xbutton.x;
          c.lastPressY = ev.xbutton.y;
          d.delegate->OnMouse(w, dbl ? MouseAction::LeftDoubleClick : MouseAction::LeftDown, ev.xbutton.x,
                              ev.xbutton.y);
        }
        break;
      case ButtonRelease:
        if (!d.delegate) break;
        if (ev.xbutton.button == Button1)
          d.delegate->OnMouse(w, MouseAction::LeftUp, ev.xbutton.x, ev.xbutton.y);
        else if (ev.xbutton.button == Button3)
          d.delegate->OnMouse(w, MouseAction::RightUp, ev.xbutton.x, ev.xbutton.y);
        break;
      case MotionNotify:
        if (d.delegate) d.delegate->OnMouse(w, MouseAction::Move, ev.xmotion.x, ev.xmotion.y);
        break;
      case LeaveNotify:
        if (d.delegate && ev.xcrossing.mode == NotifyNormal && ev.xcrossing.detail != NotifyInferior)
          d.delegate->OnMouse(w, MouseAction::Leave, ev.xcrossing.x, ev.xcrossing.y);
        break;
      case KeyPress:
        if (d.delegate)
          d.delegate->OnKey(w, XLookupKeysym(&ev.xkey, 0) == XK_Escape ? Key::Escape : Key::Other);
        break;
      default:
        break;
    }
  }
}

}  // namespace platform::display
