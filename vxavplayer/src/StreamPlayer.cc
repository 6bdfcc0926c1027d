#include "vxavplayer/src/StreamPlayer.h"

#include <chrono>

#include "vxavplayer/src/CodecCodes.h"
#include "platform/display/VideoOutput.h"
#include "vxavplayer/src/Pacing.h"

namespace vxav {

namespace {

constexpr int kMaxFrameBytes = 16 << 20;
// Handled frames' storage kept for reuse: a few, and none of the rare huge ones.
constexpr size_t kSpareBuffers = 4;
constexpr size_t kMaxSpareBytes = 1 << 20;

// Cheap check that a unit is what its codec says, so garbage is refused at the door.
bool LooksLike(int videoCode, const std::uint8_t* d, int size) {
  if (videoCode == VX_CODEC_MJPEG) return size > 4 && d[0] == 0xFF && d[1] == 0xD8;
  return size > 4 && d[0] == 0 && d[1] == 0 && (d[2] == 1 || (d[2] == 0 && d[3] == 1));
}

}  // namespace

StreamPlayer::StreamPlayer(VX_HANDLE handle, const StreamDescription& description, VX_WINDOW window, bool dxva)
    : m_handle(handle),
      m_description(description),
      m_live(description.streamMode == VX_MODE_LIVE),
      m_window(window),
      m_videoDecoder(dxva) {
  m_thread = std::thread([this] { Run(); });
}

StreamPlayer::~StreamPlayer() {
  {
    std::lock_guard<std::mutex> lock(m_inputMutex);
    m_stop = true;
  }
  m_inputWake.notify_all();
  m_thread.join();
  StopRecord();
  CloseSound();
}

int StreamPlayer::Play(VX_WINDOW window) {
  if (window == 0) return VX_ERR_PARAM;
  auto* output = platform::display::GetVideoOutput();
  if (output == nullptr) return VX_ERR_STATE;
  int width = 0;
  int height = 0;
  if (!output->GetClientSize(window, &width, &height)) return VX_ERR_PARAM;
  std::lock_guard<std::mutex> lock(m_renderMutex);
  m_window = window;
  m_playing = true;
  return VX_OK;
}

void StreamPlayer::SetDrawCallBack(VX_DrawCallBack callback, void* user) {
  std::lock_guard<std::mutex> lock(m_callbackMutex);
  m_drawCallBack = callback;
  m_drawUser = user;
}

void StreamPlayer::SetDecodeCallBack(VX_DecodeCallBack callback, void* user) {
  std::lock_guard<std::mutex> lock(m_callbackMutex);
  m_decodeCallBack = callback;
  m_decodeUser = user;
}

void StreamPlayer::SetRecordCallBack(VX_RecordCallBack callback, void* user) {
  std::lock_guard<std::mutex> lock(m_callbackMutex);
  m_recordCallBack = callback;
  m_recordUser = user;
}

int StreamPlayer::Input(const std::uint8_t* data, int size, const StreamDescription& frame) {
  if (data == nullptr || size <= 0 || size > kMaxFrameBytes) return VX_ERR_PARAM;
  InputFrame input{{}, frame};
  if (frame.kind == 0) {
    if (input.description.videoCodec == 0) input.description.videoCodec = m_description.videoCodec;
    if (VideoCodecId(input.description.videoCodec) == AV_CODEC_ID_NONE) return VX_ERR_CODEC;
    if (!LooksLike(input.description.videoCodec, data, size)) return VX_ERR_PARAM;
    if (input.description.frameRate == 0) input.description.frameRate = m_description.frameRate;
  } else if (frame.kind == 1) {
    if (input.description.audioCodec == 0) input.description.audioCodec = m_description.audioCodec;
    if (AudioCodecId(input.description.audioCodec) == AV_CODEC_ID_NONE) return VX_ERR_CODEC;
    // MP2 talk audio travels labelled as G.711 A-law; played as A-law it would be noise.
    const bool g711 = input.description.audioCodec == VX_CODEC_G711A || input.description.audioCodec == VX_CODEC_G711U;
    if (g711 && LooksLikeMp2(data, size)) input.description.audioCodec = VX_CODEC_MP2;
  } else {
    return VX_ERR_PARAM;
  }
  {
    std::lock_guard<std::mutex> lock(m_inputMutex);
    if (static_cast<int>(m_input.size()) >= kMaxBuffered) return VX_ERR_BUFFER_FULL;
    if (!m_spareData.empty()) {
      input.data = std::move(m_spareData.back());
      m_spareData.pop_back();
    }
    input.data.assign(data, data + size);
    m_input.push_back(std::move(input));
  }
  m_inputWake.notify_all();
  return VX_OK;
}

void StreamPlayer::GetBufferInfo(std::int32_t* decoded, std::int32_t* buffered, std::int32_t* shown) {
  if (decoded != nullptr) *decoded = m_decoded.load();
  if (shown != nullptr) *shown = m_shown.load();
  if (buffered != nullptr) {
    std::lock_guard<std::mutex> lock(m_inputMutex);
    *buffered = static_cast<std::int32_t>(m_input.size()) + (m_inFlight ? 1 : 0);
  }
}

void StreamPlayer::Pause(bool pause) {
  {
    std::lock_guard<std::mutex> lock(m_inputMutex);
    m_paused = pause;
  }
  m_inputWake.notify_all();
}

void StreamPlayer::SetSpeed(int speed) {
  m_speed = speed;
  m_inputWake.notify_all();  // a long wait at slow speed picks up the new pace
}

int StreamPlayer::OpenSound() {
  std::lock_guard<std::mutex> lock(m_soundMutex);
  if (!m_sound) m_sound = std::make_unique<SoundOutput>();
  return VX_OK;
}

int StreamPlayer::CloseSound() {
  std::unique_ptr<SoundOutput> sound;
  {
    std::lock_guard<std::mutex> lock(m_soundMutex);
    sound = std::move(m_sound);
  }
  return VX_OK;  // the output's thread ends as `sound` goes
}

int StreamPlayer::StartRecord(const std::string& path, int frameRate) {
  int error = VX_OK;
  const int rate = frameRate > 0 ? frameRate : m_description.frameRate;
  auto recorder = Recorder::Create(path, m_description.videoCodec, m_description.audioCodec, rate, &error);
  if (!recorder) return error;
  std::unique_ptr<Recorder> previous;
  {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    previous = std::move(m_recorder);
    m_recorder = std::move(recorder);
  }
  return VX_OK;
}

int StreamPlayer::StopRecord() {
  std::unique_ptr<Recorder> recorder;
  {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    recorder = std::move(m_recorder);
  }
  return recorder ? recorder->Close() : VX_OK;
}

int StreamPlayer::Snapshot(const std::string& path) {
  FramePtr copy;
  {
    std::lock_guard<std::mutex> lock(m_renderMutex);
    if (m_last->width <= 0) return VX_ERR_STATE;
    copy.reset(av_frame_clone(m_last.get()));
  }
  if (!copy) return VX_ERR_NOMEM;
  return WritePicture(copy.get(), path);
}

int StreamPlayer::ShowRect(const VX_RECT* rect) {
  if (rect != nullptr && (rect->right <= rect->left || rect->bottom <= rect->top || rect->left < 0 || rect->top < 0)) {
    return VX_ERR_PARAM;
  }
  std::lock_guard<std::mutex> lock(m_renderMutex);
  m_crop = rect != nullptr;
  if (rect != nullptr) m_cropRect = *rect;
  return VX_OK;
}

int StreamPlayer::Refresh() {
  std::lock_guard<std::mutex> present(m_presentMutex);
  FramePtr last = MakeFrame();
  {
    std::lock_guard<std::mutex> lock(m_renderMutex);
    if (!m_playing) return VX_ERR_STATE;
    if (m_last->width <= 0) return VX_OK;  // nothing decoded yet: nothing to show
    if (av_frame_ref(last.get(), m_last.get()) < 0) return VX_ERR_NOMEM;
  }
  return PresentLocked(last.get()) ? VX_OK : VX_ERR_GENERIC;
}

bool StreamPlayer::PresentLocked(const AVFrame* picture) {
  VX_WINDOW window;
  bool crop;
  VX_RECT cropRect;
  {
    std::lock_guard<std::mutex> lock(m_renderMutex);
    if (!m_playing || m_window == 0) return false;
    window = m_window;
    crop = m_crop;
    cropRect = m_cropRect;
  }
  VX_DrawCallBack draw;
  void* user;
  {
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    draw = m_drawCallBack;
    user = m_drawUser;
  }
  return m_renderer.Present(picture, crop ? &cropRect : nullptr, window, [draw, user](void* canvas) {
    if (draw != nullptr) draw(0, canvas, user);
  });
}

void StreamPlayer::NotifyDecoded(const std::uint8_t* data, int size, int width, int height, std::uint32_t time,
                                 int kind) {
  VX_DecodeCallBack callback;
  void* user;
  {
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    callback = m_decodeCallBack;
    user = m_decodeUser;
  }
  if (callback == nullptr) return;
  const std::uint32_t info[4] = {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), time,
                                 static_cast<std::uint32_t>(kind)};
  callback(m_handle, data, size, width, height, 0, info, user);
}

void StreamPlayer::WaitForDue(int frameRate) {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(m_inputMutex);
  // Pause holds the picture on screen and the rest of the stream in the buffer.
  m_inputWake.wait(lock, [this] { return m_stop || !m_paused; });
  if (m_live || m_stop) return;
  const auto now = Clock::now();
  // After a pause or a stall, pace from now instead of rushing to catch up.
  if (m_nextDue + std::chrono::milliseconds(200) < now) m_nextDue = now;
  int speed = m_speed.load();
  while (!m_stop && Clock::now() < m_nextDue) {
    m_inputWake.wait_until(lock, m_nextDue);
    const int changed = m_speed.load();
    if (changed != speed) {  // a new speed re-times the picture now due
      m_nextDue = Clock::now() + std::chrono::microseconds(FrameIntervalMicros(frameRate, changed) / 4);
      speed = changed;
    }
    m_inputWake.wait(lock, [this] { return m_stop || !m_paused; });
  }
  m_nextDue += std::chrono::microseconds(FrameIntervalMicros(frameRate, speed));
}

bool StreamPlayer::Superseded() {
  if (!m_live || m_skipped >= kMaxSkipped) return false;
  std::lock_guard<std::mutex> lock(m_inputMutex);
  for (const InputFrame& waiting : m_input) {
    if (waiting.description.kind == 0) return true;
  }
  return false;
}

void StreamPlayer::OnPicture(AVFrame* picture) {
  ++m_decoded;
  const FrameSlot slot = picture->pts >= 0 ? m_slots[picture->pts % 64] : FrameSlot{};
  NotifyDecoded(picture->data[0], picture->linesize[0] * picture->height, picture->width, picture->height,
                slot.time, 0);
  {
    std::lock_guard<std::mutex> lock(m_renderMutex);
    av_frame_unref(m_last.get());
    av_frame_ref(m_last.get(), picture);
  }
  WaitForDue(slot.frameRate);
  // Converting and showing cost several times the decoding: on a machine short of CPU, a pane that
  // catches up by decoding alone shows current pictures again at once instead of a growing delay.
  if (Superseded()) {
    ++m_skipped;
    return;
  }
  m_skipped = 0;
  std::lock_guard<std::mutex> present(m_presentMutex);
  if (PresentLocked(picture)) ++m_shown;
}

void StreamPlayer::Record(const InputFrame& frame) {
  std::unique_ptr<Recorder> failed;
  {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    if (!m_recorder) return;
    const int size = static_cast<int>(frame.data.size());
    if (frame.description.kind == 0) {
      m_recorder->WriteVideo(frame.description.videoCodec, frame.data.data(), size);
    } else {
      m_recorder->WriteAudio(frame.description.audioCodec, frame.data.data(), size);
    }
    if (m_recorder->Failed()) failed = std::move(m_recorder);
  }
  if (!failed) return;
  failed->Close();
  VX_RecordCallBack callback;
  void* user;
  {
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    callback = m_recordCallBack;
    user = m_recordUser;
  }
  if (callback != nullptr) callback(m_handle, VX_ERR_FILE, user);
}

void StreamPlayer::HandleVideo(const InputFrame& frame) {
  const int code = frame.description.videoCodec;
  const int size = static_cast<int>(frame.data.size());
  Record(frame);
  const std::int64_t tag = m_nextTag++;
  m_slots[tag % 64] = FrameSlot{frame.description.frameTime, frame.description.frameRate};
  m_videoDecoder.Decode(code, frame.data.data(), size, tag, [this](AVFrame* picture) { OnPicture(picture); });
}

void StreamPlayer::HandleAudio(const InputFrame& frame) {
  const int code = frame.description.audioCodec;
  Record(frame);
  m_audioDecoder.Decode(code, frame.data.data(), static_cast<int>(frame.data.size()), [&](const PcmBlock& pcm) {
    NotifyDecoded(reinterpret_cast<const std::uint8_t*>(pcm.samples), pcm.count * pcm.channels * 2, 0, 0,
                  frame.description.frameTime, 1);
    std::lock_guard<std::mutex> lock(m_soundMutex);
    if (m_sound) m_sound->Write(pcm);
  });
}

void StreamPlayer::Run() {
  InputFrame frame;
  while (true) {
    {
      std::unique_lock<std::mutex> lock(m_inputMutex);
      if (m_spareData.size() < kSpareBuffers && frame.data.capacity() > 0 && frame.data.capacity() <= kMaxSpareBytes)
        m_spareData.push_back(std::move(frame.data));
      m_inFlight = false;
      m_inputWake.wait(lock, [this] { return m_stop || (!m_paused && !m_input.empty()); });
      if (m_stop) return;
      frame = std::move(m_input.front());
      m_input.pop_front();
      m_inFlight = true;
    }
    if (frame.description.kind == 0) {
      HandleVideo(frame);
    } else {
      HandleAudio(frame);
    }
  }
}

}  // namespace vxav
