#pragma once
// nimbrel-play's window, on the platform display: X11, or the headless backend (pictures are
// scaled and kept in memory). Created and run on the main thread; Id, Resize and Close from any
// thread. The display registers itself as the AV library's video output.
#include <functional>
#include <memory>
#include <string>

#include "platform/display/Display.h"

namespace play {

class PlayWindow : public platform::display::IWindowDelegate {
 public:
  // Null (with `error`) when X11 was asked for and no display opens. `onEscape` runs on the main
  // thread when the user presses Escape in the window.
  static std::unique_ptr<PlayWindow> Open(bool headless, int width, int height, std::function<void()> onEscape,
                                          std::string* error);
  ~PlayWindow() override;

  platform::display::WindowId Id() const { return m_window; }
  void Resize(int width, int height);
  // Delivers the window's events until Close.
  void Run();
  // The window goes and Run returns; safe before Run and more than once.
  void Close();

 private:
  PlayWindow(std::unique_ptr<platform::display::IDisplay> display, std::function<void()> onEscape);
  void OnKey(platform::display::WindowId window, platform::display::Key key) override;
  void OnDestroy(platform::display::WindowId window) override;

  std::unique_ptr<platform::display::IDisplay> m_display;
  std::function<void()> m_onEscape;
  platform::display::WindowId m_window = 0;
};

}  // namespace play
