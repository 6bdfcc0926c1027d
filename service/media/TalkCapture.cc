#include "service/media/TalkCapture.h"

#include "vxavplayer/include/VXAVPlayer.h"

TalkCapture::~TalkCapture() { Stop(); }

int TalkCapture::Open(int codec) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_handle > 0) return VX_OK;
  VX_HANDLE handle = -1;
  const int result = VX_OpenCaptureSound(&handle, codec, 8000, 16, 1);
  if (result != VX_OK) return result;
  m_handle = handle;
  m_codec = codec;
  return VX_OK;
}

void TalkCapture::Start(BlockSink onBlock, SilenceSink onSilence) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_started || m_stopped || m_handle <= 0) return;
  m_started = true;
  m_onBlock = std::move(onBlock);
  m_onSilence = std::move(onSilence);
  VX_SetAVDataCallBack(m_handle, &TalkCapture::OnData, this);
  VX_StartCaptureSound(m_handle);
  m_timer = platform::timer::StartPeriodicTimer(static_cast<int>(kCheckPeriod.count()), [this] { OnTick(); });
}

void TalkCapture::Stop() {
  platform::timer::TimerId timer;
  VX_HANDLE handle;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = true;
    timer = m_timer;
    handle = m_handle;
    m_timer = 0;
    m_handle = 0;
  }
  // Outside the mutex: both wait for a callback that may be running.
  if (timer != 0) platform::timer::KillTimer(timer);
  if (handle > 0) {
    VX_StopCaptureSound(handle);
    VX_CloseCaptureSound(handle);
  }
  m_count = 0;
}

void TalkCapture::OnData(std::int32_t, const std::uint8_t* data, std::int32_t length, std::int32_t, void* user) {
  auto* self = static_cast<TalkCapture*>(user);
  ++self->m_count;
  if (data != nullptr && length > 0 && self->m_onBlock) self->m_onBlock(data, static_cast<std::size_t>(length));
}

void TalkCapture::OnTick() {
  if (m_count.exchange(0) == 0 && m_onSilence) m_onSilence();
}
