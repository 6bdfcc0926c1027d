// The feed thread: hands queued frames to the AV library at the pace it accepts them, measures
// the bit rate, and ends a drained playback. A live frame that finds the queue empty skips it.
#include <chrono>
#include <exception>
#include <thread>

#include "common/DebugLog.h"
#include "platform/system/Clock.h"
#include "service/media/BitRateMeter.h"
#include "service/media/PacketQueue.h"
#include "service/media/PlayChannel.h"

namespace {
constexpr std::chrono::milliseconds kIdlePoll{10};
// Pushes, stops and the end of a playback wake the wait; the bound is a safety net.
constexpr std::chrono::milliseconds kQuietPoll{500};
constexpr std::chrono::milliseconds kFullRetry{10};
}  // namespace

void PlayChannel::FeedLoop() {
  try {
    while (!m_bFeedStop) {
      auto queue = Queue();
      if (!queue) {
        std::this_thread::sleep_for(kIdlePoll);
        continue;
      }
      // A push wakes the wait at once. Only a playback past its end polls: the library's buffer
      // empties without telling us.
      if (!queue->WaitReady(m_mode == Mode::kPlayback && m_bEndOfFile ? kIdlePoll : kQuietPoll)) {
        CheckPlaybackDrained();
        continue;
      }
      std::lock_guard<std::mutex> feed(m_feedMutex);
      if (auto packet = queue->Pop()) FeedPacket(*packet);
    }
  } catch (const std::exception&) {
    DebugLog("try catch error!");
  }
}

std::uint64_t PlayChannel::NowMs() const {
  return m_options.tickMs ? m_options.tickMs() : platform::system::MonotonicMilliseconds();
}

void PlayChannel::MeasureLocked(const MediaPacket& packet) {
  if (packet.kind != 0) return;
  if (!m_meter) m_meter.emplace(NowMs());
  if (const auto rate = m_meter->AddVideo(packet.PayloadSize(), NowMs())) m_nBitRate = *rate;
}

std::optional<int> PlayChannel::InputOnce(const MediaPacket& packet, const StreamDescription& frame) {
  int result;
  {
    ThreadLib::ReadLock lock(m_lockPlayer);
    if (!PlayerOpen()) return std::nullopt;
    result = VX_InputData(m_hPlayer, packet.payload.data(), static_cast<std::int32_t>(packet.PayloadSize()), &frame, 0);
  }
  if (result == VX_OK && m_options.onFed) m_options.onFed(packet.frameTime, packet.kind);
  return result;
}

void PlayChannel::FeedPacket(const MediaPacket& packet) {
  MeasureLocked(packet);
  const StreamDescription frame = MakeFrameDescription(packet);
  if (m_mode == Mode::kDownload) {
    {
      ThreadLib::WriteLock lock(m_lockPlayer);
      if (!PlayerOpen()) return;
      FeedDownloadLocked(packet.payload.data(), packet.PayloadSize(), frame);
    }
    if (m_options.onFed) m_options.onFed(packet.frameTime, packet.kind);
    return;
  }
  while (true) {
    const std::optional<int> result = InputOnce(packet, frame);
    // Only a full library buffer is worth another try; any other answer drops this frame.
    if (result != VX_ERR_BUFFER_FULL || m_bClosing || m_bFeedStop) return;
    std::this_thread::sleep_for(kFullRetry);
  }
}

bool PlayChannel::FeedPastQueue(const MediaPacket& packet, PacketQueue& queue) {
  // A busy feed thread means packets before this one: it waits its turn in the queue.
  std::unique_lock<std::mutex> feed(m_feedMutex, std::try_to_lock);
  if (!feed.owns_lock() || !queue.Passable()) return false;
  // The feed thread retries a full buffer from the queue; anything else is handled as it would be.
  if (InputOnce(packet, MakeFrameDescription(packet)) == VX_ERR_BUFFER_FULL) return false;
  MeasureLocked(packet);
  return true;
}

void PlayChannel::CheckPlaybackDrained() {
  if (m_mode != Mode::kPlayback || !m_bEndOfFile) return;
  {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    if (!m_pending.empty()) return;  // paused with frames still to show
  }
  {
    ThreadLib::ReadLock lock(m_lockPlayer);
    if (!PlayerOpen()) return;
    std::int32_t decoded = 0, buffered = 1, shown = 0;
    if (VX_GetVideoBufferInfo(m_hPlayer, &decoded, &buffered, &shown) != VX_OK || buffered != 0) return;
  }
  {
    ThreadLib::WriteLock lock(m_lockPlayer);
    ClosePlayerLocked();
  }
  m_bFeedStop = true;
  if (!m_bEndNoticeSent.exchange(true)) Notify("playbackFileEnd", m_strEndTime, 0, 0);
}
