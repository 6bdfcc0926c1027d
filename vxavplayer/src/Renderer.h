#pragma once
// Scales pictures to a window's current size and presents them through the display backend.
// Used by one stream's decode thread, and by VX_Refresh under the stream's render mutex.
#include <cstdint>
#include <functional>
#include <vector>

#include "VXAVPlayer.h"
#include "platform/display/WindowId.h"
#include "vxavplayer/src/AvPtr.h"

namespace vxav {

class Renderer {
 public:
  // Presents `frame` cropped to `crop` (null = whole) into `window`; `overlay` gets the canvas.
  // False when there is no backend, the window is gone, or the picture cannot be converted.
  bool Present(const AVFrame* frame, const VX_RECT* crop, platform::display::WindowId window,
               const std::function<void(void* canvas)>& overlay);

 private:
  SwsPtr m_sws;
  FramePtr m_cropped = MakeFrame();
  std::vector<std::uint8_t> m_pixels;
};

// Clamps `rect` to a picture of width x height; false when nothing of it is left.
bool ClampRect(const VX_RECT& rect, int width, int height, VX_RECT* out);

}  // namespace vxav
