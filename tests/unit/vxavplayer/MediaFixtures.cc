#include "MediaFixtures.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

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

FakeOutput::FakeOutput() { platform::display::SetVideoOutput(this); }
FakeOutput::~FakeOutput() { platform::display::SetVideoOutput(nullptr); }

void FakeOutput::AddWindow(platform::display::WindowId id, int width, int height) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_windows[id].width = width;
  m_windows[id].height = height;
}

bool FakeOutput::GetClientSize(platform::display::WindowId window, int* width, int* height) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  *width = it->second.width;
  *height = it->second.height;
  return true;
}

bool FakeOutput::Present(platform::display::WindowId window, const platform::display::VideoFrameView& frame,
                         const std::function<void(void* canvas)>& overlay) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return false;
    Window& w = it->second;
    w.lastWidth = frame.width;
    w.lastHeight = frame.height;
    w.pixels.assign(frame.bgra, frame.bgra + static_cast<size_t>(frame.stride) * frame.height);
  }
  if (overlay) overlay(this);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_windows[window].presents;
  }
  m_changed.notify_all();
  return true;
}

bool FakeOutput::WaitPresents(platform::display::WindowId window, int count) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_windows[window].presents >= count; });
}

int FakeOutput::Presents(platform::display::WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_windows[window].presents;
}

Pixel FakeOutput::At(platform::display::WindowId window, int x, int y) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const Window& w = m_windows[window];
  const std::uint8_t* p = w.pixels.data() + (static_cast<size_t>(y) * w.lastWidth + x) * 4;
  return Pixel{p[0], p[1], p[2]};
}

int FakeOutput::LastWidth(platform::display::WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_windows[window].lastWidth;
}

bool Near(const Pixel& p, int r, int g, int b, int tolerance) {
  return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

}  // namespace vxtest
