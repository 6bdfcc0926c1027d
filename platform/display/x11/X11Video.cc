// Video frames into windows: YUV pictures through XVideo when the server has it (the adaptor
// converts and scales); BGRA as MIT-SHM images when the server shares memory with us, else plain
// XPutImage. Runs on the AV library's render threads, all of them on the one video connection
// (under its mutex): a connection per pane thread would exhaust the server's client slots.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/DebugLog.h"
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

constexpr std::uint32_t Fourcc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b) << 8 | static_cast<std::uint32_t>(c) << 16 |
         static_cast<std::uint32_t>(d) << 24;
}
constexpr std::uint32_t kI420 = Fourcc('I', '4', '2', '0');
constexpr std::uint32_t kYv12 = Fourcc('Y', 'V', '1', '2');  // I420 with V before U
constexpr std::uint32_t kNv12 = Fourcc('N', 'V', '1', '2');

// Sets the port's attribute `name` when the port has it.
void SetPortAttribute(X11Connection& c, const char* name, int value) {
  int count = 0;
  XvAttribute* attributes = XvQueryPortAttributes(c.dpy, c.xvPort, &count);
  bool has = false;
  for (int i = 0; i < count; ++i) has = has || std::strcmp(attributes[i].name, name) == 0;
  if (attributes) XFree(attributes);
  if (has) XvSetPortAttribute(c.dpy, c.xvPort, XInternAtom(c.dpy, name, False), value);
}

// Grabs the first free port of an image adaptor that takes planar 4:2:0 pictures; null when the
// server has none, else the reason.
const char* GrabXvPort(X11Connection& c) {
  unsigned version, release, request, event, error;
  if (XvQueryExtension(c.dpy, &version, &release, &request, &event, &error) != Success)
    return "the X server has no XVideo";
  if (!XShmQueryExtension(c.dpy)) return "the X server shares no memory with us";
  unsigned count = 0;
  XvAdaptorInfo* adaptors = nullptr;
  if (XvQueryAdaptors(c.dpy, c.root, &count, &adaptors) != Success) return "XVideo lists no adaptors";
  for (unsigned a = 0; a < count && !c.xvPort; ++a) {
    if (!(adaptors[a].type & XvInputMask) || !(adaptors[a].type & XvImageMask)) continue;
    for (unsigned long i = 0; i < adaptors[a].num_ports && !c.xvPort; ++i) {
      const XvPortID port = adaptors[a].base_id + i;
      int n = 0;
      XvImageFormatValues* formats = XvListImageFormats(c.dpy, port, &n);
      std::vector<std::uint32_t> planar;
      for (int f = 0; f < n; ++f)
        if (formats[f].format == XvPlanar) planar.push_back(static_cast<std::uint32_t>(formats[f].id));
      if (formats) XFree(formats);
      const std::uint32_t i420 = XvFourccFor(planar, YuvLayout::I420);
      const std::uint32_t nv12 = XvFourccFor(planar, YuvLayout::NV12);
      if ((i420 || nv12) && XvGrabPort(c.dpy, port, CurrentTime) == Success) {
        c.xvPort = port;
        c.xvI420 = i420;
        c.xvNv12 = nv12;
      }
    }
  }
  XvFreeAdaptorInfo(adaptors);
  if (!c.xvPort) return "no free XVideo port takes planar 4:2:0 pictures";
  // Overlay adaptors show video where the window has their colour key; they paint it themselves.
  SetPortAttribute(c, "XV_AUTOPAINT_COLORKEY", 1);
  XSync(c.dpy, False);
  return nullptr;
}

void DropXvImage(X11Connection& c) {
  if (!c.xvImage) return;
  XShmDetach(c.dpy, &c.xvShm);
  XSync(c.dpy, False);
  XFree(c.xvImage);
  shmdt(c.xvShm.shmaddr);
  c.xvImage = nullptr;
}

// A shared XVideo image of `fourcc` at least width x height, or null.
XvImage* XvSharedImage(X11Connection& c, std::uint32_t fourcc, int width, int height) {
  if (c.xvImage && c.xvImage->id == static_cast<int>(fourcc) && c.xvImage->width >= width &&
      c.xvImage->height >= height)
    return c.xvImage;
  DropXvImage(c);
  XvImage* image = XvShmCreateImage(c.dpy, c.xvPort, static_cast<int>(fourcc), nullptr, width, height, &c.xvShm);
  if (!image) return nullptr;
  const int planes = fourcc == kNv12 ? 2 : 3;
  if (image->width < width || image->height < height || image->data_size <= 0 || image->num_planes < planes) {
    XFree(image);
    return nullptr;
  }
  c.xvShm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->data_size), IPC_CREAT | 0600);
  if (c.xvShm.shmid < 0) {
    XFree(image);
    return nullptr;
  }
  c.xvShm.shmaddr = image->data = static_cast<char*>(shmat(c.xvShm.shmid, nullptr, 0));
  c.xvShm.readOnly = False;
  LastX11Error() = 0;
  const bool attached = image->data != reinterpret_cast<char*>(-1) && XShmAttach(c.dpy, &c.xvShm);
  XSync(c.dpy, False);
  shmctl(c.xvShm.shmid, IPC_RMID, nullptr);
  if (!attached || LastX11Error() != 0) {
    if (image->data != reinterpret_cast<char*>(-1)) shmdt(image->data);
    XFree(image);
    return nullptr;
  }
  c.xvImage = image;
  return image;
}

// Copies the picture's planes into the image, in the order its fourcc puts them.
void CopyPlanes(const YuvFrameView& frame, XvImage* image) {
  const bool nv12 = image->id == static_cast<int>(kNv12);
  const int chromaBytes = (frame.width + 1) / 2 * (nv12 ? 2 : 1);
  const int source[3] = {0, image->id == static_cast<int>(kYv12) ? 2 : 1, image->id == static_cast<int>(kYv12) ? 1 : 2};
  for (int p = 0; p < (nv12 ? 2 : 3); ++p) {
    const int rows = p == 0 ? frame.height : (frame.height + 1) / 2;
    const int bytes = std::min(p == 0 ? frame.width : chromaBytes, image->pitches[p]);
    const std::uint8_t* from = frame.planes[source[p]];
    char* to = image->data + image->offsets[p];
    for (int y = 0; y < rows; ++y)
      std::memcpy(to + static_cast<size_t>(y) * image->pitches[p], from + static_cast<size_t>(y) * frame.strides[source[p]],
                  static_cast<size_t>(bytes));
  }
}

}  // namespace

std::uint32_t XvFourccFor(const std::vector<std::uint32_t>& planarFormats, YuvLayout layout) {
  auto has = [&](std::uint32_t id) { return std::find(planarFormats.begin(), planarFormats.end(), id) != planarFormats.end(); };
  if (layout == YuvLayout::NV12) return has(kNv12) ? kNv12 : 0;
  return has(kI420) ? kI420 : has(kYv12) ? kYv12 : 0;
}

PresentResult X11Display::PresentYuv(WindowId window, const YuvFrameView& frame,
                                     const std::function<void(void* canvas)>& overlay) {
  if (m_impl->xvOff.load() || frame.fullRange) return PresentResult::Unsupported;
  if (!frame.Valid()) return PresentResult::Failed;
  int width = 0, height = 0;
  if (!GetClientSize(window, &width, &height)) return PresentResult::Failed;
  if (width <= 0 || height <= 0) return PresentResult::Shown;  // nothing of it would be seen
  std::lock_guard<std::mutex> lock(m_impl->videoMutex);
  X11Connection* video = m_impl->VideoConn();
  if (!video) return PresentResult::Failed;
  X11Connection& c = *video;
  // Any failure of XVideo sends this and every later picture the BGRA way.
  auto off = [this, &c](const char* why) {
    if (!m_impl->xvOff.exchange(true)) DebugLog("X11: video converted on the CPU: %s", why);
    DropXvImage(c);
    return PresentResult::Unsupported;
  };
  if (!c.xvTried) {
    c.xvTried = true;
    if (const char* why = GrabXvPort(c)) return off(why);
    DebugLog("X11: video through XVideo port %lu", static_cast<unsigned long>(c.xvPort));
  }
  if (!c.xvPort) return off("no XVideo port");
  const std::uint32_t fourcc = frame.layout == YuvLayout::NV12 ? c.xvNv12 : c.xvI420;
  if (!fourcc) return PresentResult::Unsupported;  // the other layout may still go through
  XvImage* image = XvSharedImage(c, fourcc, frame.width, frame.height);
  if (!image) return off("no shared XVideo image");
  CopyPlanes(frame, image);
  LastX11Error() = 0;
  XvShmPutImage(c.dpy, c.xvPort, window, c.gc, image, frame.cropWidth > 0 ? frame.cropX : 0,
                frame.cropWidth > 0 ? frame.cropY : 0, static_cast<unsigned>(frame.VisibleWidth()),
                static_cast<unsigned>(frame.VisibleHeight()), 0, 0, static_cast<unsigned>(width),
                static_cast<unsigned>(height), False);
  // The image is reused by the next picture, and a refused one must be known before the overlay
  // is drawn (the caller then draws picture and overlay the BGRA way).
  XSync(c.dpy, True);
  const int error = LastX11Error();
  if (error == BadWindow || error == BadDrawable) return PresentResult::Failed;  // the window went
  if (error != 0) return off("the XVideo adaptor refused a picture");
  if (overlay) {
    // Straight onto the window: adaptors draw only into windows. Synced so that an error of
    // these requests is not taken for the next picture's.
    X11Canvas canvas(c, window);
    overlay(static_cast<ICanvas*>(&canvas));
    XSync(c.dpy, True);
  }
  return PresentResult::Shown;
}

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
