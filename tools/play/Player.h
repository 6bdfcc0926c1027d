#pragma once
// Hands one source's frames to the AV library and keeps the run's statistics. Feed runs on the
// stream client's thread; Drain and Finish on the main thread once no more frames come; the
// library's callbacks update the statistics on its own threads (PlayStats guards itself).
#include <cstddef>
#include <cstdint>
#include <string>

#include "PlayStats.h"
#include "VXAVPlayer.h"
#include "service/media/MediaHeader.h"

namespace play {

class PlayWindow;

struct PlayOptions {
  std::string url;
  std::string request = "{\"data\":{}}";
  bool headless = false;
  bool playback = false;
  bool sound = false;
  std::string record;
  std::string snapshot;
  long frames = -1;
  int width = 0;
  int height = 0;
  int seconds = 0;
};

class Player {
 public:
  Player(const PlayOptions& options, PlayWindow& window) : m_options(options), m_window(window) {}
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Opens the library on the first video frame; false when it cannot play the stream.
  bool Feed(const MediaHeader& header, const std::uint8_t* payload, std::size_t size);
  // Waits until the library has shown what it was given (bounded, in case a decoder holds some).
  void Drain();
  // Snapshot, end of recording, statistics line; 4 when a file failed, else 0.
  int Finish();

  bool Opened() const { return m_handle > 0; }
  std::int64_t Received() const { return m_stats.ReceivedCount(); }

 private:
  bool Open(const MediaHeader& header);
  static void OnDecoded(VX_HANDLE, const std::uint8_t*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                        const std::uint32_t* info, void* user);
  static void OnDrawn(std::int32_t, void*, void* user);

  const PlayOptions& m_options;
  PlayWindow& m_window;
  VX_HANDLE m_handle = -1;
  StreamDescription m_open{};
  int m_videoCodec = 0;
  int m_audioCodec = 0;
  PlayStats m_stats;
};

}  // namespace play
