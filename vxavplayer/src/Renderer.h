#pragma once
// Presents pictures in a window through the display backend: as YUV when the backend converts and
// scales on its side, else converted to BGRA at the window's size here. Used by one stream's
// decode thread, and by VX_Refresh under the stream's render mutex.
#include <cstdint>
#include <functional>
#include <vector>

#include "VXAVPlayer.h"
#include "platform/display/VideoOutput.h"
#include "vxavplayer/src/AvPtr.h"

namespace vxav {

class Renderer {
 public:
  // NIMBREL_VIDEO_YUV=0 in the environment keeps every picture on the BGRA path (to compare).
  Renderer();

  // Presents `frame` cropped to `crop` (null = whole) into `window`; `overlay` gets the canvas.
  // False when there is no backend, the window is gone, or the picture cannot be converted.
  bool Present(const AVFrame* frame, const VX_RECT* crop, platform::display::WindowId window,
               const std::function<void(void* canvas)>& overlay);

 private:
  // Unsupported when the picture's format has no YUV view or the backend does not take it.
  platform::display::PresentResult PresentYuv(platform::display::IVideoOutput& output, const AVFrame* frame,
                                              const VX_RECT* crop, platform::display::WindowId window,
                                              const std::function<void(void* canvas)>& overlay);
  bool PresentBgra(platform::display::IVideoOutput& output, const AVFrame* frame, const VX_RECT* crop,
                   platform::display::WindowId window, int width, int height,
                   const std::function<void(void* canvas)>& overlay);

  const bool m_yuv;
  SwsPtr m_sws;
  FramePtr m_cropped = MakeFrame();
  std::vector<std::uint8_t> m_pixels;
};

// Clamps `rect` to a picture of width x height; false when nothing of it is left.
bool ClampRect(const VX_RECT& rect, int width, int height, VX_RECT* out);

}  // namespace vxav
