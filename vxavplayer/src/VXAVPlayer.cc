// The C entry points: look the handle up, check arguments, hand over to the object.
#include "VXAVPlayer.h"

#include <mutex>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

#include "common/TextConv.h"
#include "vxavplayer/src/CaptureSound.h"
#include "vxavplayer/src/CodecCodes.h"
#include "vxavplayer/src/Handles.h"
#include "vxavplayer/src/Recorder.h"
#include "vxavplayer/src/StreamPlayer.h"

namespace {

using vxav::CaptureSound;
using vxav::HandleTable;
using vxav::Recorder;
using vxav::StreamPlayer;

// A download writer: its own lock, since downloads are fed from the caller's thread.
struct DownloadWriter {
  std::mutex mutex;
  std::unique_ptr<Recorder> recorder;
};

HandleTable<StreamPlayer>& Streams() {
  static HandleTable<StreamPlayer> table;
  return table;
}
HandleTable<DownloadWriter>& Downloads() {
  static HandleTable<DownloadWriter> table;
  return table;
}
HandleTable<CaptureSound>& Captures() {
  static HandleTable<CaptureSound> table;
  return table;
}

void QuietFfmpeg() {
  static std::once_flag once;
  // Corrupt units are expected on live links; their decoder chatter is noise.
  std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

// Runs `call` on the object behind `handle`, or answers that there is none.
template <typename T, typename Call>
int32_t With(HandleTable<T>& table, VX_HANDLE handle, Call call) {
  auto object = table.Find(handle);
  return object ? call(*object) : VX_ERR_HANDLE;
}

bool KnownVideo(int code) { return code == 0 || vxav::VideoCodecId(code) != AV_CODEC_ID_NONE; }
bool KnownAudio(int code) { return code == 0 || vxav::AudioCodecId(code) != AV_CODEC_ID_NONE; }

}  // namespace

extern "C" {

int32_t VX_OpenStream(const StreamDescription* description, VX_HANDLE* handle, VX_WINDOW window, uint8_t dxva) {
  if (handle != nullptr) *handle = -1;
  if (description == nullptr || handle == nullptr) return VX_ERR_PARAM;
  if (!KnownVideo(description->videoCodec) || !KnownAudio(description->audioCodec) ||
      (description->videoCodec == 0 && description->audioCodec == 0)) {
    return VX_ERR_CODEC;
  }
  QuietFfmpeg();
  auto player = std::make_shared<StreamPlayer>(0, *description, window, dxva != 0);
  const VX_HANDLE id = Streams().Add(player);
  player->SetHandle(id);
  *handle = id;
  return VX_OK;
}

int32_t VX_Play(VX_HANDLE handle, VX_WINDOW window, int32_t) {
  return With(Streams(), handle, [&](auto& player) { return player.Play(window); });
}

int32_t VX_SetDrawCallBack(VX_HANDLE handle, VX_DrawCallBack callback, void* user) {
  return With(Streams(), handle, [&](auto& player) {
    player.SetDrawCallBack(callback, user);
    return VX_OK;
  });
}

int32_t VX_SetDecodeCallBack(VX_HANDLE handle, VX_DecodeCallBack callback, void* user) {
  return With(Streams(), handle, [&](auto& player) {
    player.SetDecodeCallBack(callback, user);
    return VX_OK;
  });
}

int32_t VX_InputData(VX_HANDLE handle, const uint8_t* data, int32_t size, const StreamDescription* frame, int32_t) {
  auto player = Streams().Find(handle);
  if (!player) return VX_ERR_HANDLE;
  if (frame == nullptr) return VX_ERR_PARAM;
  return player->Input(data, size, *frame);
}

int32_t VX_GetVideoBufferInfo(VX_HANDLE handle, int32_t* decoded, int32_t* buffered, int32_t* shown) {
  return With(Streams(), handle, [&](auto& player) {
    player.GetBufferInfo(decoded, buffered, shown);
    return VX_OK;
  });
}

int32_t VX_Pause(VX_HANDLE handle, int32_t pause) {
  return With(Streams(), handle, [&](auto& player) {
    player.Pause(pause != 0);
    return VX_OK;
  });
}

int32_t VX_SetSpeed(VX_HANDLE handle, int32_t speed) {
  return With(Streams(), handle, [&](auto& player) {
    player.SetSpeed(speed);
    return VX_OK;
  });
}

int32_t VX_OpenSound(VX_HANDLE handle) {
  return With(Streams(), handle, [&](auto& player) { return player.OpenSound(); });
}

int32_t VX_CloseSound(VX_HANDLE handle) {
  return With(Streams(), handle, [&](auto& player) { return player.CloseSound(); });
}

int32_t VX_StartRecord(VX_HANDLE handle, const char* utf8Path, void*, int32_t frameRate) {
  auto player = Streams().Find(handle);
  if (!player) return VX_ERR_HANDLE;
  if (utf8Path == nullptr) return VX_ERR_PARAM;
  return player->StartRecord(utf8Path, frameRate);
}

int32_t VX_StopRecord(VX_HANDLE handle) {
  return With(Streams(), handle, [&](auto& player) { return player.StopRecord(); });
}

int32_t VX_SetRecordCallBack(VX_HANDLE handle, VX_RecordCallBack callback, void* user) {
  return With(Streams(), handle, [&](auto& player) {
    player.SetRecordCallBack(callback, user);
    return VX_OK;
  });
}

int32_t VX_SnapshotW(VX_HANDLE handle, const wchar_t* path, int32_t) {
  auto player = Streams().Find(handle);
  if (!player) return VX_ERR_HANDLE;
  if (path == nullptr || *path == L'\0') return VX_ERR_PARAM;
  return player->Snapshot(WideToUtf8(path));
}

int32_t VX_ShowRect(VX_HANDLE handle, const VX_RECT* rect) {
  return With(Streams(), handle, [&](auto& player) { return player.ShowRect(rect); });
}

int32_t VX_Refresh(VX_HANDLE handle) {
  return With(Streams(), handle, [&](auto& player) { return player.Refresh(); });
}

int32_t VX_CloseStream(VX_HANDLE handle) {
  auto player = Streams().Remove(handle);
  if (!player) return VX_ERR_HANDLE;
  if (player->IsOwnThread()) {
    // Closed from inside its own callback: the decode thread cannot join itself.
    std::thread([doomed = std::move(player)]() mutable { doomed.reset(); }).detach();
  }
  return VX_OK;  // otherwise the player stops when the last caller lets go
}

int32_t VX_OpenStreamRecord(const char* utf8Path, const StreamDescription* description, VX_HANDLE* handle) {
  if (handle != nullptr) *handle = -1;
  if (utf8Path == nullptr || description == nullptr || handle == nullptr) return VX_ERR_PARAM;
  QuietFfmpeg();
  auto writer = std::make_shared<DownloadWriter>();
  int error = VX_OK;
  writer->recorder =
      Recorder::Create(utf8Path, description->videoCodec, description->audioCodec, description->frameRate, &error);
  if (!writer->recorder) return error;
  *handle = Downloads().Add(writer);
  return VX_OK;
}

int32_t VX_InputRecordData(VX_HANDLE handle, const uint8_t* data, int32_t size, const StreamDescription* frame) {
  auto writer = Downloads().Find(handle);
  if (!writer) return VX_ERR_HANDLE;
  if (frame == nullptr || data == nullptr || size <= 0) return VX_ERR_PARAM;
  std::lock_guard<std::mutex> lock(writer->mutex);
  if (!writer->recorder) return VX_ERR_STATE;
  return frame->kind == 0 ? writer->recorder->WriteVideo(frame->videoCodec, data, size)
                          : writer->recorder->WriteAudio(frame->audioCodec, data, size);
}

int32_t VX_CloseStreamRecord(VX_HANDLE handle) {
  auto writer = Downloads().Remove(handle);
  if (!writer) return VX_ERR_HANDLE;
  std::lock_guard<std::mutex> lock(writer->mutex);
  const int result = writer->recorder ? writer->recorder->Close() : VX_OK;
  writer->recorder.reset();
  return result;
}

int32_t VX_OpenCaptureSound(VX_HANDLE* handle, int32_t codec, int32_t sampleRate, int32_t bitsPerSample,
                            int32_t channels) {
  if (handle != nullptr) *handle = -1;
  if (handle == nullptr) return VX_ERR_PARAM;
  if (vxav::AudioCodecId(codec) == AV_CODEC_ID_NONE) return VX_ERR_CODEC;
  if (!CaptureSound::Supports(codec, sampleRate, bitsPerSample, channels)) return VX_ERR_PARAM;
  QuietFfmpeg();
  *handle = Captures().Add(std::make_shared<CaptureSound>(codec, sampleRate, channels));
  return VX_OK;
}

int32_t VX_SetAVDataCallBack(VX_HANDLE handle, VX_AVDataCallBack callback, void* user) {
  return With(Captures(), handle, [&](auto& capture) {
    capture.SetCallBack(callback, user);
    return VX_OK;
  });
}

int32_t VX_StartCaptureSound(VX_HANDLE handle) {
  return With(Captures(), handle, [&](auto& capture) { return capture.Start(); });
}

int32_t VX_StopCaptureSound(VX_HANDLE handle) {
  return With(Captures(), handle, [&](auto& capture) { return capture.Stop(); });
}

int32_t VX_CloseCaptureSound(VX_HANDLE handle) {
  auto capture = Captures().Remove(handle);
  return capture ? VX_OK : VX_ERR_HANDLE;
}

}  // extern "C"
