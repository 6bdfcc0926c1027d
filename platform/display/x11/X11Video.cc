// Video frames into windows: MIT-SHM images when the server shares memory with us, else plain
// XPutImage. Runs on the AV library's render threads, all of them on the one video connection
// (under its mutex): a connection per pane thread would exhaust the server's client slots.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>

#include "platform/display/x11/X11Internal.h"

namespace platform::display {

namespace {

void DropSharedImage(X11Connection& c) {
  if (!c.shmImage) return;
  XShmDetach(c.dpy, &c.shm);
  XSync(c.dpy, False);
  XDestroyImage(c.shmImage);
  shmdt(c.shm.shmaddr);
  c.shmImage = nullptr;
  c.shmWidth = c.shmHeight = 0;
}

// A shared image at least width x height, or null when shared memory cannot be used.
XImage* SharedImage(X11Connection& c, int width, int height) {
  if (!c.shmTried) {
    c.shmTried = true;
    c.shmOk = XShmQueryExtension(c.dpy);
  }
  if (!c.shmOk) return nullptr;
  if (c.shmImage && c.shmWidth >= width && c.shmHeight >= height) return c.shmImage;
  DropSharedImage(c);
  XImage* image = XShmCreateImage(c.dpy, c.visual, c.depth, ZPixmap, nullptr, &c.shm, width, height);
  if (!image) {
    c.shmOk = false;
    return nullptr;
  }
  c.shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * height, IPC_CREAT | 0600);
  if (c.shm.shmid < 0) {
    XDestroyImage(image);
    c.shmOk = false;
    return nullptr;
  }
  c.shm.shmaddr = image->data = static_cast<char*>(shmat(c.shm.shmid, nullptr, 0));
  c.shm.readOnly = False;
  LastX11Error() = 0;
  XShmAttach(c.dpy, &c.shm);
  XSync(c.dpy, False);
  // Marked for removal now, it disappears with the last detach, even if we crash.
  shmctl(c.shm.shmid, IPC_RMID, nullptr);
  if (LastX11Error() != 0 || image->data == reinterpret_cast<char*>(-1)) {
    // A server on another machine cannot attach our memory.
    if (image->data != reinterpret_cast<char*>(-1)) shmdt(image->data);
    image->data = nullptr;
    XDestroyImage(image);
    c.shmOk = false;
    return nullptr;
  }
  c.shmImage = image;
  c.shmWidth = width;
  c.shmHeight = height;
  return image;
}

Drawable Scratch(X11Connection& c, int width, int height) {
  if (c.scratch && c.scratchWidth >= width && c.scratchHeight >= height) return c.scratch;
  if (c.scratch) XFreePixmap(c.dpy, c.scratch);
  c.scratch = XCreatePixmap(c.dpy, c.root, width, height, c.depth);
  c.scratchWidth = width;
  c.scratchHeight = height;
  return c.scratch;
}

}  // namespace

bool X11Display::UsesSharedMemory() {
  std::lock_guard<std::mutex> lock(m_impl->videoMutex);
  X11Connection* c = m_impl->VideoConn();
  if (!c) return false;
  SharedImage(*c, 1, 1);
  return c->shmOk;
}

bool X11Display::GetClientSize(WindowId window, int* width, int* height) {
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->windows.find(window);
    if (it != m_impl->windows.end()) {
      *width = it->second.rect.Width();
      *height = it->second.rect.Height();
      return true;
    }
  }
  std::lock_guard<std::mutex> lock(m_impl->videoMutex);
  X11Connection* c = m_impl->VideoConn();
  if (!c) return false;
  XWindowAttributes a;
  LastX11Error() = 0;
  if (!XGetWindowAttributes(c->dpy, window, &a) || LastX11Error() != 0) return false;
  *width = a.width;
  *height = a.height;
  return true;
}

bool X11Display::Present(WindowId window, const VideoFrameView& frame,
                         const std::function<void(void* canvas)>& overlay) {
  if (!frame.bgra || frame.width <= 0 || frame.height <= 0) return false;
  std::lock_guard<std::mutex> lock(m_impl->videoMutex);
  X11Connection* video = m_impl->VideoConn();
  if (!video) return false;  // this frame is lost; the pane's next one tries again
  X11Connection& c = *video;
  // Frames are B,G,R,X in memory: the layout of 24/32-bit true-colour visuals on little-endian
  // machines, the only kind this backend shows video on.
  if ((c.depth != 24 && c.depth != 32) || c.visual->red_mask != 0xFF0000 || c.visual->green_mask != 0xFF00 ||
      c.visual->blue_mask != 0xFF || ImageByteOrder(c.dpy) != LSBFirst)
    return false;
  Drawable target = overlay ? Scratch(c, frame.width, frame.height) : window;
  LastX11Error() = 0;
  if (XImage* image = SharedImage(c, frame.width, frame.height)) {
    for (int y = 0; y < frame.height; ++y)
      std::memcpy(image->data + static_cast<size_t>(y) * image->bytes_per_line,
                  frame.bgra + static_cast<size_t>(y) * frame.stride, static_cast<size_t>(frame.width) * 4);
    XShmPutImage(c.dpy, target, c.gc, image, 0, 0, 0, 0, frame.width, frame.height, False);
  } else {
    XImage* plain = XCreateImage(c.dpy, c.visual, c.depth, ZPixmap, 0,
                                 const_cast<char*>(reinterpret_cast<const char*>(frame.bgra)), frame.width,
                                 frame.height, 32, frame.stride);
    if (!plain) return false;
    XPutImage(c.dpy, target, c.gc, plain, 0, 0, 0, 0, frame.width, frame.height);
    plain->data = nullptr;  // the frame's memory is the caller's
    XDestroyImage(plain);
  }
  if (overlay) {
    X11Canvas canvas(c, target);
    overlay(static_cast<ICanvas*>(&canvas));
    XCopyArea(c.dpy, target, window, c.gc, 0, 0, frame.width, frame.height, 0, 0);
  }
  // The shared image is reused by the next frame, so the server must be done with it. This
  // connection selects no input, so any event that still reaches it is dropped, not queued.
  XSync(c.dpy, True);
  return LastX11Error() == 0;
}

}  // namespace platform::display
