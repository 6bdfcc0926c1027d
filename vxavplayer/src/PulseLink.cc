#include "vxavplayer/src/PulseLink.h"

#include <dlfcn.h>
#include <pulse/simple.h>

#include <cstdlib>
#include <mutex>

namespace vxav {

namespace {

struct PulseApi {
  decltype(&pa_simple_new) create = nullptr;
  decltype(&pa_simple_write) write = nullptr;
  decltype(&pa_simple_read) read = nullptr;
  decltype(&pa_simple_drain) drain = nullptr;
  decltype(&pa_simple_free) destroy = nullptr;
  bool loaded = false;
};

const PulseApi& Api() {
  static PulseApi api;
  static std::once_flag once;
  std::call_once(once, [] {
    // Tests and headless machines can keep the library away from any server.
    const char* off = std::getenv("NIMBREL_NO_PULSE");
    if (off != nullptr && *off != '\0' && *off != '0') return;
    void* lib = dlopen("libpulse-simple.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return;
    api.create = reinterpret_cast<decltype(api.create)>(dlsym(lib, "pa_simple_new"));
    api.write = reinterpret_cast<decltype(api.write)>(dlsym(lib, "pa_simple_write"));
    api.read = reinterpret_cast<decltype(api.read)>(dlsym(lib, "pa_simple_read"));
    api.drain = reinterpret_cast<decltype(api.drain)>(dlsym(lib, "pa_simple_drain"));
    api.destroy = reinterpret_cast<decltype(api.destroy)>(dlsym(lib, "pa_simple_free"));
    api.loaded = api.create && api.write && api.read && api.destroy;
  });
  return api;
}

}  // namespace

bool PulseLink::Open(bool record, int rate, int channels) {
  Close();
  const PulseApi& api = Api();
  if (!api.loaded) return false;
  pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate), static_cast<std::uint8_t>(channels)};
  // Short buffers: live audio should not lag the picture.
  pa_buffer_attr attr{static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(rate * channels * 2 / 5),
                      static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                      static_cast<std::uint32_t>(rate * channels * 2 / 25)};
  int error = 0;
  m_stream = api.create(nullptr, "nimbrel", record ? PA_STREAM_RECORD : PA_STREAM_PLAYBACK, nullptr,
                        record ? "capture" : "playback", &sampleFormat, nullptr, &attr, &error);
  m_rate = rate;
  m_channels = channels;
  return m_stream != nullptr;
}

bool PulseLink::Write(const std::int16_t* samples, int count) {
  if (m_stream == nullptr) return false;
  int error = 0;
  return Api().write(static_cast<pa_simple*>(m_stream), samples, static_cast<size_t>(count) * 2, &error) == 0;
}

bool PulseLink::Read(std::int16_t* samples, int count) {
  if (m_stream == nullptr) return false;
  int error = 0;
  return Api().read(static_cast<pa_simple*>(m_stream), samples, static_cast<size_t>(count) * 2, &error) == 0;
}

void PulseLink::Close() {
  if (m_stream == nullptr) return;
  Api().destroy(static_cast<pa_simple*>(m_stream));
  m_stream = nullptr;
}

}  // namespace vxav
