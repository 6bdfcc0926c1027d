#pragma once
// One opened stream: a bounded input buffer, a decode thread that decodes, paces and presents,
// and the stream's recording, snapshot and sound. The C entry points call it from any thread.
// Locks: m_inputMutex (buffer, pause, stop, pacing waits), m_callbackMutex (the two callbacks),
// m_presentMutex (the renderer; held while presenting, so also around the draw callback),
// m_renderMutex (window, crop, last picture; taken inside m_presentMutex, never held while
// presenting), m_recordMutex (recorder), m_soundMutex (sound output).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VXAVPlayer.h"
#include "vxavplayer/src/AudioCodec.h"
#include "vxavplayer/src/AvPtr.h"
#include "vxavplayer/src/Recorder.h"
#include "vxavplayer/src/Renderer.h"
#include "vxavplayer/src/SoundOutput.h"
#include "vxavplayer/src/VideoDecoder.h"

namespace vxav {

class StreamPlayer {
 public:
  // Frames the input buffer holds before VX_InputData answers -8.
  static constexpr int kMaxBuffered = 48;
  // A live stream whose decode thread fell behind shows only its newest picture: at most this
  // many pictures in a row are decoded and not shown.
  static constexpr int kMaxSkipped = 12;

  StreamPlayer(VX_HANDLE handle, const StreamDescription& description, VX_WINDOW window, bool dxva);
  ~StreamPlayer();
  StreamPlayer(const StreamPlayer&) = delete;
  StreamPlayer& operator=(const StreamPlayer&) = delete;

  void SetHandle(VX_HANDLE handle) { m_handle = handle; }
  // True on the player's own decode thread (inside its callbacks).
  bool IsOwnThread() const { return std::this_thread::get_id() == m_thread.get_id(); }
  int Play(VX_WINDOW window);
  void SetDrawCallBack(VX_DrawCallBack callback, void* user);
  void SetDecodeCallBack(VX_DecodeCallBack callback, void* user);
  void SetRecordCallBack(VX_RecordCallBack callback, void* user);
  int Input(const std::uint8_t* data, int size, const StreamDescription& frame);
  void GetBufferInfo(std::int32_t* decoded, std::int32_t* buffered, std::int32_t* shown);
  void Pause(bool pause);
  void SetSpeed(int speed);
  int OpenSound();
  int CloseSound();
  int StartRecord(const std::string& path, int frameRate);
  int StopRecord();
  int Snapshot(const std::string& path);
  int ShowRect(const VX_RECT* rect);
  int Refresh();

 private:
  struct InputFrame {
    std::vector<std::uint8_t> data;
    StreamDescription description;
  };
  struct FrameSlot {  // what a decoded picture needs from the unit it came from
    std::uint32_t time = 0;
    int frameRate = 0;
  };

  void Run();
  void HandleVideo(const InputFrame& frame);
  void HandleAudio(const InputFrame& frame);
  // Hands a unit to the recorder; a recorder whose file failed is closed and reported.
  void Record(const InputFrame& frame);
  void OnPicture(AVFrame* picture);
  void WaitForDue(int frameRate);
  // Live only: a newer picture already waits, so showing this one would only add delay.
  bool Superseded();
  // Caller holds m_presentMutex.
  bool PresentLocked(const AVFrame* picture);
  void NotifyDecoded(const std::uint8_t* data, int size, int width, int height, std::uint32_t time, int kind);

  std::atomic<VX_HANDLE> m_handle;
  const StreamDescription m_description;
  const bool m_live;

  std::mutex m_inputMutex;
  std::condition_variable m_inputWake;
  std::deque<InputFrame> m_input;
  // Storage of frames already handled, reused by Input: a pane takes 25 frames a second.
  std::vector<std::vector<std::uint8_t>> m_spareData;
  bool m_inFlight = false;
  bool m_stop = false;
  bool m_paused = false;
  std::chrono::steady_clock::time_point m_nextDue{};

  std::atomic<int> m_speed{0};
  std::atomic<std::int32_t> m_decoded{0};
  std::atomic<std::int32_t> m_shown{0};

  std::mutex m_callbackMutex;
  VX_DrawCallBack m_drawCallBack = nullptr;
  void* m_drawUser = nullptr;
  VX_DecodeCallBack m_decodeCallBack = nullptr;
  void* m_decodeUser = nullptr;
  VX_RecordCallBack m_recordCallBack = nullptr;
  void* m_recordUser = nullptr;

  std::mutex m_presentMutex;
  Renderer m_renderer;

  std::mutex m_renderMutex;
  VX_WINDOW m_window = 0;
  bool m_playing = false;
  bool m_crop = false;
  VX_RECT m_cropRect{};
  FramePtr m_last = MakeFrame();

  std::mutex m_recordMutex;
  std::unique_ptr<Recorder> m_recorder;

  std::mutex m_soundMutex;
  std::unique_ptr<SoundOutput> m_sound;

  // Decode thread only.
  VideoDecoder m_videoDecoder;
  AudioDecoder m_audioDecoder;
  std::int64_t m_nextTag = 0;
  int m_skipped = 0;
  FrameSlot m_slots[64];

  std::thread m_thread;
};

// Writes `picture` as JPEG, PNG or BMP chosen by the path's extension.
int WritePicture(const AVFrame* picture, const std::string& path);

}  // namespace vxav
