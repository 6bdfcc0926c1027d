#include "MediaFixtures.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "VXAVPlayer.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vxtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vxav-XXXXXX").string();
  m_path = mkdtemp(pattern.data());
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

bool MakeVideo(const std::string& path, const std::string& lavfiSource, int frames, const std::string& codecArgs) {
  return Run("ffmpeg -y -nostdin -v error -f lavfi -i \"" + lavfiSource + "\" -frames:v " + std::to_string(frames) +
             " -pix_fmt yuv420p " + codecArgs + " \"" + path + "\"");
}

std::vector<Unit> ReadUnits(const std::string& path) {
  std::vector<Unit> units;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return units;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(input, packet) >= 0) {
    units.emplace_back(packet->data, packet->data + packet->size);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&input);
  return units;
}

ProbeResult Probe(const std::string& path, const std::string& type) {
  ProbeResult result;
  const std::string text = Capture("ffprobe -v error -count_frames -select_streams " + type +
                                   ":0 -show_entries stream=codec_name,width,height,nb_read_frames "
                                   "-show_entries format=duration -of default=nw=1 \"" + path + "\"");
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "codec_name") result.codec = value;
    if (key == "width") result.width = std::atoi(value.c_str());
    if (key == "height") result.height = std::atoi(value.c_str());
    if (key == "nb_read_frames") result.frames = std::atoi(value.c_str());
    if (key == "duration") result.duration = std::atof(value.c_str());
  }
  return result;
}

void WaitDrained(std::int32_t handle) {
  int32_t decoded, buffered = 1, shown;
  while (VX_GetVideoBufferInfo(handle, &decoded, &buffered, &shown) == VX_OK && buffered != 0) {
    std::this_thread::yield();
  }
}

// The backend registers itself as the output; this wrapper takes its place.
HeadlessOutput::HeadlessOutput() { platform::display::SetVideoOutput(this); }
HeadlessOutput::~HeadlessOutput() { platform::display::SetVideoOutput(nullptr); }

platform::display::WindowId HeadlessOutput::AddWindow(int width, int height) {
  return m_display.CreateContainer(0, platform::display::MakeRect(0, 0, width, height), nullptr);
}

void HeadlessOutput::Resize(platform::display::WindowId window, int width, int height) {
  m_display.Move(window, platform::display::MakeRect(0, 0, width, height));
}

bool HeadlessOutput::GetClientSize(platform::display::WindowId window, int* width, int* height) {
  return m_display.GetClientSize(window, width, height);
}

bool HeadlessOutput::Present(platform::display::WindowId window, const platform::display::VideoFrameView& frame,
                             const std::function<void(void* canvas)>& overlay) {
  if (!m_display.Present(window, frame, overlay)) return false;
  Count(window);
  return true;
}

platform::display::PresentResult HeadlessOutput::PresentYuv(platform::display::WindowId window,
                                                            const platform::display::YuvFrameView& frame,
                                                            const std::function<void(void* canvas)>& overlay) {
  using platform::display::PresentResult;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_yuvCalls;
    if (m_refusal != PresentResult::Shown && m_refusals != 0) {
      if (m_refusals > 0) --m_refusals;
      return m_refusal;
    }
  }
  const PresentResult result = m_display.PresentYuv(window, frame, overlay);
  if (result == PresentResult::Shown) Count(window);
  return result;
}

void HeadlessOutput::RefuseYuv(platform::display::PresentResult answer, int times) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_refusal = answer;
  m_refusals = times;
}

int HeadlessOutput::YuvCalls() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_yuvCalls;
}

void HeadlessOutput::Count(platform::display::WindowId window) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_presents[window];
  }
  m_changed.notify_all();
}

bool HeadlessOutput::WaitPresents(platform::display::WindowId window, int count) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_presents[window] >= count; });
}

int HeadlessOutput::Presents(platform::display::WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_presents[window];
}

Pixel HeadlessOutput::At(platform::display::WindowId window, int x, int y) {
  const auto frame = m_display.LastFrame(window);
  if (!frame || x < 0 || y < 0 || x >= frame->width || y >= frame->height) return Pixel{-1, -1, -1};
  const std::uint8_t* p = frame->bgra.data() + (static_cast<size_t>(y) * frame->width + x) * 4;
  return Pixel{p[0], p[1], p[2]};
}

int HeadlessOutput::LastWidth(platform::display::WindowId window) {
  const auto frame = m_display.LastFrame(window);
  return frame ? frame->width : 0;
}

bool Near(const Pixel& p, int r, int g, int b, int tolerance) {
  return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

}  // namespace vxtest
