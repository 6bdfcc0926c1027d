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
  virtual ~IVideoOutput() = default;
};

// The registered output, or null when no backend registered one.
void SetVideoOutput(IVideoOutput* output);
IVideoOutput* GetVideoOutput();

}  // namespace platform::display
