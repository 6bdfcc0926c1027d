#pragma once
// Writes received elementary streams into a container named by the file's extension, without
// re-encoding video. Audio is copied when the container carries its codec, else turned into AAC.
// MP4 and MOV are written in fragments (an empty index first, a fragment per key frame), so a
// file cut short by a killed process or a full disk still plays up to its last fragment. A
// recorder that never saw a key frame leaves no file behind; the file is never written through
// a link.
// Not thread-safe: its owner serialises calls (a stream's record mutex, a download's mutex).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vxavplayer/src/AudioCodec.h"
#include "vxavplayer/src/AvPtr.h"
#include "vxavplayer/src/OutputIo.h"

namespace vxav {

struct FormatContextClose {
  void operator()(AVFormatContext* f) const;
};

class Recorder {
 public:
  // videoCode / audioCode: library codec codes (0 = none). The file is opened now (so a bad path
  // fails at once) and written from the first key frame (or first audio block of an audio-only
  // stream). Null when the extension names no known container or a codec has no place in it.
  static std::unique_ptr<Recorder> Create(const std::string& path, int videoCode, int audioCode, int frameRate,
                                          int* error);
  ~Recorder();

  // Returns 0, or a negative code when the unit cannot be written.
  int WriteVideo(int codecCode, const std::uint8_t* data, int size);
  int WriteAudio(int codecCode, const std::uint8_t* data, int size);
  // Writes the trailer and closes the file; 0 or a negative code. A file never started is removed.
  int Close();
  // A write failed (a full disk): the file keeps what was written before; nothing more is.
  bool Failed() const { return m_failed; }

  std::int64_t VideoFrames() const { return m_videoFrames; }

 private:
  Recorder() = default;
  bool Start(const std::uint8_t* keyFrame, int keySize);
  int StartWithPendingVideo();
  bool AddAudioStream();
  int WriteAudioPacket(AVPacket* packet, int samples);
  // Marks the recorder failed after a write error; returns VX_ERR_FILE.
  int Fail();

  // After m_io: the output context goes first.
  std::unique_ptr<OutputIo> m_io;
  std::string m_path;
  const AVOutputFormat* m_format = nullptr;
  std::unique_ptr<AVFormatContext, FormatContextClose> m_output;
  int m_videoCode = 0;
  int m_audioCode = 0;
  int m_frameRate = 25;
  AVStream* m_video = nullptr;
  AVStream* m_audio = nullptr;
  bool m_started = false;
  bool m_failed = false;
  std::int64_t m_videoFrames = 0;
  std::int64_t m_audioSamples = 0;
  int m_audioRate = 8000;
  // Audio seen before the file opens: tells its format.
  std::vector<std::vector<std::uint8_t>> m_earlyAudio;
  // Video from the first key frame on, held while a stream without a known audio codec waits
  // briefly for its first audio block, so the file gets both tracks.
  std::vector<std::vector<std::uint8_t>> m_pendingVideo;
  // Transcoding path.
  bool m_transcode = false;
  std::unique_ptr<AudioDecoder> m_decoder;
  std::unique_ptr<AudioEncoder> m_encoder;
  PacketPtr m_packet = MakePacket();
};

// True when the unit starts a decodable sequence (IDR/IRAP with parameter sets, or a JPEG).
bool IsKeyFrame(int videoCode, const std::uint8_t* data, int size);
// Parameter-set NAL units of an Annex B unit, in Annex B form (empty for MJPEG).
std::vector<std::uint8_t> ParameterSets(int videoCode, const std::uint8_t* data, int size);

}  // namespace vxav
