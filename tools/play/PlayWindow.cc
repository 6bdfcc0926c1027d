#include "PlayWindow.h"

#include "platform/display/headless/HeadlessDisplay.h"
#include "platform/display/x11/X11Display.h"

namespace play {

namespace display = platform::display;

std::unique_ptr<PlayWindow> PlayWindow::Open(bool headless, int width, int height, std::function<void()> onEscape,
                                             std::string* error) {
  std::unique_ptr<display::IDisplay> backend;
  if (headless) {
    backend = std::make_unique<display::HeadlessDisplay>();
  } else if (!(backend = display::X11Display::Open())) {
    *error = "cannot open the X display (try --headless)";
    return nullptr;
  }
  std::unique_ptr<PlayWindow> window(new PlayWindow(std::move(backend), std::move(onEscape)));
  window->m_window = window->m_display->CreateContainer(0, display::MakeRect(0, 0, width, height), window.get());
  if (window->m_window == 0) {
    *error = "cannot create a window";
    return nullptr;
  }
  window->m_display->Show(window->m_window, true);
  return window;
}

PlayWindow::PlayWindow(std::unique_ptr<display::IDisplay> display, std::function<void()> onEscape)
    : m_display(std::move(display)), m_onEscape(std::move(onEscape)) {
  display::SetDisplay(m_display.get());
}

PlayWindow::~PlayWindow() {
  m_display->Destroy(m_window);
  display::SetDisplay(nullptr);
}

void PlayWindow::Resize(int width, int height) { m_display->Move(m_window, display::MakeRect(0, 0, width, height)); }

void PlayWindow::Run() { m_display->RunLoop(); }

void PlayWindow::Close() { m_display->Destroy(m_window); }

void PlayWindow::OnKey(display::WindowId, display::Key key) {
  if (key == display::Key::Escape && m_onEscape) m_onEscape();
}

void PlayWindow::OnDestroy(display::WindowId) { m_display->PostQuit(); }

}  // namespace play
