#pragma once
// Test media made by the ffmpeg tool, split into the units a source would send, and a video
// output on the headless display backend.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/display/headless/HeadlessDisplay.h"

namespace vxtest {

using Unit = std::vector<std::uint8_t>;

// A scratch folder removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Runs a shell command; true when it exits 0.
bool Run(const std::string& command);
// Output of a shell command.
std::string Capture(const std::string& command);

// Encodes `lavfiSource` (e.g. "color=c=red:s=176x144:r=25") for `frames` frames with `codecArgs`
// (e.g. "-c:v libx264 -g 10") into `path`; the container follows the extension.
bool MakeVideo(const std::string& path, const std::string& lavfiSource, int frames, const std::string& codecArgs);
// The packets of a media file in demux order (access units, JPEG pictures, audio blocks).
std::vector<Unit> ReadUnits(const std::string& path);

struct ProbeResult {
  std::string codec;
  int width = 0;
  int height = 0;
  int frames = 0;
  double duration = 0;
};
// The first stream of `type` ("v" or "a") as ffprobe reads it (frames counted by decoding).
ProbeResult Probe(const std::string& path, const std::string& type);
// Waits until a stream has nothing left to decode or show.
void WaitDrained(std::int32_t handle);

struct Pixel {
  int b, g, r;
};

// The headless display backend as the library's video output: its windows get the pictures;
// presents are counted on the way so tests can wait for them. It takes YUV as the backend does,
// unless told to answer as a backend that refuses it. Present runs on the library's threads;
// m_mutex guards the counts and the answer.
class HeadlessOutput : public platform::display::IVideoOutput {
 public:
  HeadlessOutput();
  ~HeadlessOutput() override;
  platform::display::WindowId AddWindow(int width, int height);
  void Resize(platform::display::WindowId window, int width, int height);
  bool GetClientSize(platform::display::WindowId window, int* width, int* height) override;
  bool Present(platform::display::WindowId window, const platform::display::VideoFrameView& frame,
               const std::function<void(void* canvas)>& overlay) override;
  platform::display::PresentResult PresentYuv(platform::display::WindowId window,
                                              const platform::display::YuvFrameView& frame,
                                              const std::function<void(void* canvas)>& overlay) override;
  // PresentYuv answers `answer` (Unsupported or Failed) without showing anything, the next
  // `times` calls (-1: always); Shown goes back to the display's own answer.
  void RefuseYuv(platform::display::PresentResult answer, int times = -1);
  // Calls of PresentYuv so far, whatever their answer.
  int YuvCalls();
  // Waits until `window` has had `count` presents; false after a long guard time.
  bool WaitPresents(platform::display::WindowId window, int count);
  int Presents(platform::display::WindowId window);
  // A pixel of the window's last picture.
  Pixel At(platform::display::WindowId window, int x, int y);
  int LastWidth(platform::display::WindowId window);
  // The window's last picture with what the overlay drew over it.
  std::optional<platform::display::HeadlessFrame> LastFrame(platform::display::WindowId window) {
    return m_display.LastFrame(window);
  }

 private:
  platform::display::HeadlessDisplay m_display;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::map<platform::display::WindowId, int> m_presents;
  platform::display::PresentResult m_refusal = platform::display::PresentResult::Shown;
  int m_refusals = 0;
  int m_yuvCalls = 0;

  void Count(platform::display::WindowId window);
};

bool Near(const Pixel& p, int r, int g, int b, int tolerance = 24);

}  // namespace vxtest
