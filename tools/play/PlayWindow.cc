#include "PlayWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace play {

namespace {

class HeadlessWindow : public PlayWindow {
 public:
  HeadlessWindow(int width, int height) : m_width(width), m_height(height) {}
  platform::display::WindowId Id() const override { return 1; }
  bool Pump() override { return true; }
  void Resize(int width, int height) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_width = width;
    m_height = height;
  }
  bool GetClientSize(platform::display::WindowId window, int* width, int* height) override {
    if (window != Id()) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    *width = m_width;
    *height = m_height;
    return true;
  }
  bool Present(platform::display::WindowId window, const platform::display::VideoFrameView& frame,
               const std::function<void(void* canvas)>& overlay) override {
    if (window != Id()) return false;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_last.assign(frame.bgra, frame.bgra + static_cast<size_t>(frame.stride) * frame.height);
    }
    if (overlay) overlay(nullptr);
    return true;
  }

 private:
  std::mutex m_mutex;
  int m_width;
  int m_height;
  std::vector<std::uint8_t> m_last;
};

class X11Window : public PlayWindow {
 public:
  ~X11Window() override {
    if (m_display != nullptr) {
      XDestroyWindow(m_display, m_window);
      XCloseDisplay(m_display);
    }
  }
  bool Open(int width, int height, std::string* error) {
    XInitThreads();
    m_display = XOpenDisplay(nullptr);
    if (m_display == nullptr) {
      *error = "cannot open the X display (try --headless)";
      return false;
    }
    const int screen = DefaultScreen(m_display);
    m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 0, 0, width, height, 0,
                                   BlackPixel(m_display, screen), BlackPixel(m_display, screen));
    XStoreName(m_display, m_window, "nimbrel-play");
    m_deleteAtom = XInternAtom(m_display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(m_display, m_window, &m_deleteAtom, 1);
    XSelectInput(m_display, m_window, StructureNotifyMask | ExposureMask);
    XMapWindow(m_display, m_window);
    m_gc = DefaultGC(m_display, screen);
    m_visual = DefaultVisual(m_display, screen);
    m_depth = DefaultDepth(m_display, screen);
    m_width = width;
    m_height = height;
    XFlush(m_display);
    return true;
  }
  platform::display::WindowId Id() const override { return m_window; }
  bool Pump() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    while (XPending(m_display) > 0) {
      XEvent event;
      XNextEvent(m_display, &event);
      if (event.type == ConfigureNotify) {
        m_width = event.xconfigure.width;
        m_height = event.xconfigure.height;
      } else if (event.type == ClientMessage &&
                 static_cast<Atom>(event.xclient.data.l[0]) == m_deleteAtom) {
        return false;
      }
    }
    return true;
  }
  void Resize(int width, int height) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    XResizeWindow(m_display, m_window, width, height);
    m_width = width;
    m_height = height;
    XFlush(m_display);
  }
  bool GetClientSize(platform::display::WindowId window, int* width, int* height) override {
    if (window != m_window) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    *width = m_width;
    *height = m_height;
    return true;
  }
  bool Present(platform::display::WindowId window, const platform::display::VideoFrameView& frame,
               const std::function<void(void* canvas)>& overlay) override {
    if (window != m_window) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    // 24/32-bit TrueColor on a little-endian machine takes B,G,R,X rows as they are.
    XImage* image = XCreateImage(m_display, m_visual, m_depth, ZPixmap, 0,
                                 reinterpret_cast<char*>(const_cast<std::uint8_t*>(frame.bgra)), frame.width,
                                 frame.height, 32, frame.stride);
    if (image == nullptr) return false;
    XPutImage(m_display, m_window, m_gc, image, 0, 0, 0, 0, frame.width, frame.height);
    image->data = nullptr;  // the frame's pixels are not ours to free
    XDestroyImage(image);
    if (overlay) overlay(nullptr);
    XFlush(m_display);
    return true;
  }

 private:
  std::mutex m_mutex;
  Display* m_display = nullptr;
  Window m_window = 0;
  GC m_gc{};
  Visual* m_visual = nullptr;
  int m_depth = 24;
  Atom m_deleteAtom = 0;
  int m_width = 0;
  int m_height = 0;
};

}  // namespace

std::unique_ptr<PlayWindow> PlayWindow::Create(bool headless, int width, int height, std::string* error) {
  if (headless) return std::make_unique<HeadlessWindow>(width, height);
  auto window = std::make_unique<X11Window>();
  if (!window->Open(width, height, error)) return nullptr;
  return window;
}

}  // namespace play
