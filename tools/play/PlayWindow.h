#pragma once
// Where nimbrel-play shows video: an X11 window, or a headless window that only keeps the last
// frame. Both register as the display backend's video output. Present runs on the library's
// decode thread, Pump and the rest on the main thread; a mutex guards the shared state.
#include <memory>
#include <string>

#include "platform/display/VideoOutput.h"

namespace play {

class PlayWindow : public platform::display::IVideoOutput {
 public:
  // Null (with `error`) when X11 was asked for and no display opens.
  static std::unique_ptr<PlayWindow> Create(bool headless, int width, int height, std::string* error);
  virtual platform::display::WindowId Id() const = 0;
  // Handles window events; false once the user closed the window.
  virtual bool Pump() = 0;
  virtual void Resize(int width, int height) = 0;
};

}  // namespace play
