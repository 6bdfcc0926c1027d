#pragma once
// How the AV library shows pictures in windows of the display backend. The active backend
// registers itself at start-up; the AV library's render threads call it (any thread; the
// backend makes these calls safe to run concurrently with its window thread).
#include <cstdint>
#include <functional>

#include "platform/display/WindowId.h"

namespace platform::display {

struct VideoFrameView {
  const std::uint8_t* bgra = nullptr;  // 32-bit B,G,R,X pixels
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row
};

// Planar 4:2:0 layouts, the ones decoders and display hardware (XVideo, Direct3D) share.
enum class YuvLayout {
  I420,  // Y, then U and V each at half width and half height
  NV12,  // Y, then one plane of U,V pairs at half width and half height (what VA-API gives)
};

// A decoded picture as the decoder left it: the backend converts it and scales the visible part
// to the window's client size. BT.601 colours, as the CPU path converts them.
struct YuvFrameView {
  YuvLayout layout = YuvLayout::I420;
  const std::uint8_t* planes[3] = {nullptr, nullptr, nullptr};  // Y, U, V (NV12: Y, UV)
  int strides[3] = {0, 0, 0};                                    // bytes per row of each plane
  int width = 0;  // the picture's own size
  int height = 0;
  // The part shown (digital zoom), inside the picture; all of it when cropWidth is 0.
  int cropX = 0, cropY = 0, cropWidth = 0, cropHeight = 0;
  bool fullRange = false;  // levels 0-255 (JPEG pictures) rather than 16-235

  int VisibleWidth() const { return cropWidth > 0 ? cropWidth : width; }
  int VisibleHeight() const { return cropWidth > 0 ? cropHeight : height; }
  // Sizes, planes and crop consistent: what a backend checks before it reads the planes.
  bool Valid() const;
};

enum class PresentResult {
  Shown,
  Failed,       // the window is gone or this picture could not be shown (the overlay was not run)
  Unsupported,  // this backend or window does not take the layout; nothing was done
};

class IVideoOutput {
 public:
  // The window's client size now; false when the window does not exist.
  virtual bool GetClientSize(WindowId window, int* width, int* height) = 0;
  // Shows `frame` (already scaled to the client size) at the window's origin. Before the picture
  // becomes visible `overlay` (when set) is called with the backend's canvas, as a void*, so the
  // caller can draw marks over the video (the pointer is a platform::display::ICanvas*, see
  // Display.h); `overlay` must not call back into the video output. False when the window does
  // not exist or the frame cannot be shown now (that pane's frame only: other windows go on).
  virtual bool Present(WindowId window, const VideoFrameView& frame,
                       const std::function<void(void* canvas)>& overlay) = 0;
  // Shows a YUV picture scaled to the window's client size, with `overlay` as for Present.
  // Backends that convert on the display side take it; the rest answer Unsupported and the
  // caller converts to BGRA itself. The planes are read before the call returns.
  virtual PresentResult PresentYuv(WindowId /*window*/, const YuvFrameView& /*frame*/,
                                   const std::function<void(void* canvas)>& /*overlay*/) {
    return PresentResult::Unsupported;
  }
  virtual ~IVideoOutput() = default;
};

// The registered output, or null when no backend registered one.
void SetVideoOutput(IVideoOutput* output);
IVideoOutput* GetVideoOutput();

// Converts the visible part of `frame` to B,G,R,X pixels of width x height, scaled bilinearly
// (for backends that keep YUV and read back pixels rarely). False when the frame is not Valid.
bool ConvertYuvToBgra(const YuvFrameView& frame, int width, int height, std::uint8_t* bgra, int stride);

}  // namespace platform::display
