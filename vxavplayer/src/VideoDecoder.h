#pragma once
// One stream's video decoder. Used only by that stream's decode thread.
#include <cstdint>
#include <functional>

#include "vxavplayer/src/AvPtr.h"

namespace vxav {

class VideoDecoder {
 public:
  using FrameSink = std::function<void(AVFrame* frame)>;  // software picture; pts = packet tag

  explicit VideoDecoder(bool hardware) : m_wantHardware(hardware) {}

  // Decodes one access unit of `codecCode`; a new code drains the old decoder first. False when
  // the codec cannot be opened (the unit is dropped); corrupt units are dropped quietly.
  bool Decode(int codecCode, const std::uint8_t* data, int size, std::int64_t tag, const FrameSink& sink);
  void Drain(const FrameSink& sink);
  bool UsingHardware() const { return m_hardwareActive; }

 private:
  bool Open(int codecCode);
  void Receive(const FrameSink& sink);
  // The hardware failed mid-stream: software from now on (pictures return at the next key frame).
  void FallBackToSoftware();

  bool m_wantHardware;
  bool m_hardwareActive = false;
  bool m_hardwareFailed = false;
  int m_code = 0;
  CodecContextPtr m_context;
  BufferRefPtr m_device;
  FramePtr m_frame = MakeFrame();
  FramePtr m_softFrame = MakeFrame();
  PacketPtr m_packet = MakePacket();
};

}  // namespace vxav
