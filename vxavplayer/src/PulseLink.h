#pragma once
// PulseAudio's simple API loaded at run time, so machines without the library or a server
// still run. One object per stream direction; used by one thread.
#include <cstdint>

namespace vxav {

class PulseLink {
 public:
  // Opens playback (record = false) or capture; false when no library or server is there.
  bool Open(bool record, int rate, int channels);
  bool Write(const std::int16_t* samples, int count);  // count = samples over all channels
  bool Read(std::int16_t* samples, int count);
  void Close();
  bool IsOpen() const { return m_stream != nullptr; }
  int Rate() const { return m_rate; }
  int Channels() const { return m_channels; }
  ~PulseLink() { Close(); }

 private:
  void* m_stream = nullptr;
  int m_rate = 0;
  int m_channels = 0;
};

}  // namespace vxav
