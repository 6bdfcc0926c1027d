#include "Player.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "PlayWindow.h"
#include "common/TextConv.h"

namespace play {

namespace {
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
// How long a full library buffer is given before the frame is offered again.
constexpr std::chrono::milliseconds kFullRetry{2};
}  // namespace

Player::~Player() {
  if (m_handle > 0) {
    if (!m_options.record.empty()) VX_StopRecord(m_handle);
    VX_CloseStream(m_handle);
  }
}

bool Player::Feed(const MediaHeader& header, const std::uint8_t* payload, std::size_t size) {
  const bool video = header.IsVideo();
  if (m_handle <= 0) {
    if (!video) {
      m_audioCodec = header.codec;  // remembered for the stream's opening
      return true;
    }
    if (!Open(header)) return false;
  }
  StreamDescription d{};
  d.videoCodec = static_cast<std::uint16_t>(video ? header.codec : m_videoCodec);
  d.audioCodec = static_cast<std::uint16_t>(video ? m_audioCodec : header.codec);
  d.frameRate = static_cast<std::uint16_t>(video ? header.rate : 0);
  d.frameType = header.frameType;
  d.kind = video ? 0 : 1;
  d.streamMode = m_open.streamMode;
  // A video frame's time is its receipt number, so the decode callback can tell which it was.
  d.frameTime = video ? m_stats.Received() : header.frameTime;
  if (!video) m_audioCodec = d.audioCodec;
  while (VX_InputData(m_handle, payload, static_cast<std::int32_t>(size), &d, 0) == VX_ERR_BUFFER_FULL) {
    std::this_thread::sleep_for(kFullRetry);
  }
  return true;  // other refusals drop just this frame
}

void Player::Drain() {
  if (m_handle <= 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::int32_t decoded = 0, buffered = 1, shown = 0;
  while (std::chrono::steady_clock::now() < deadline &&
         VX_GetVideoBufferInfo(m_handle, &decoded, &buffered, &shown) == VX_OK && buffered > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int Player::Finish() {
  int status = 0;
  if (m_handle > 0 && !m_options.snapshot.empty() &&
      VX_SnapshotW(m_handle, Utf8ToWide(m_options.snapshot).c_str(), 0) != VX_OK) {
    std::fprintf(stderr, "nimbrel-play: snapshot %s failed\n", m_options.snapshot.c_str());
    status = 4;
  }
  if (m_handle > 0 && !m_options.record.empty() && VX_StopRecord(m_handle) != VX_OK) {
    std::fprintf(stderr, "nimbrel-play: recording %s failed\n", m_options.record.c_str());
    status = 4;
  }
  if (m_handle > 0) VX_CloseStream(m_handle);
  m_handle = -1;
  std::printf("%s\n", m_stats.Line(CpuSeconds()).c_str());
  std::fflush(stdout);
  return status;
}

bool Player::Open(const MediaHeader& header) {
  m_videoCodec = header.codec;
  m_open = StreamDescription{};
  m_open.videoCodec = static_cast<std::uint16_t>(header.codec);
  m_open.audioCodec = static_cast<std::uint16_t>(m_audioCodec);
  m_open.frameRate = static_cast<std::uint16_t>(header.rate);
  m_open.width = static_cast<std::uint16_t>(header.width);
  m_open.height = static_cast<std::uint16_t>(header.height);
  m_open.streamMode = m_options.playback ? VX_MODE_PLAYBACK : VX_MODE_LIVE;
  if (m_options.width == 0 && header.width > 0 && header.height > 0) {
    m_window.Resize(static_cast<int>(header.width), static_cast<int>(header.height));
  }
  if (VX_OpenStream(&m_open, &m_handle, m_window.Id(), 0) != VX_OK || VX_Play(m_handle, m_window.Id(), 0) != VX_OK) {
    std::fprintf(stderr, "nimbrel-play: the library cannot play codec %d\n", header.codec);
    return false;
  }
  VX_SetDecodeCallBack(m_handle, &Player::OnDecoded, this);
  VX_SetDrawCallBack(m_handle, &Player::OnDrawn, this);
  if (m_options.sound) VX_OpenSound(m_handle);
  if (!m_options.record.empty()) {
    const int result = VX_StartRecord(m_handle, m_options.record.c_str(), nullptr, static_cast<std::int32_t>(header.rate));
    if (result != VX_OK) {
      std::fprintf(stderr, "nimbrel-play: cannot record to %s (%d)\n", m_options.record.c_str(), result);
    }
  }
  return true;
}

void Player::OnDecoded(VX_HANDLE, const std::uint8_t*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                       const std::uint32_t* info, void* user) {
  if (info[3] == 0) static_cast<Player*>(user)->m_stats.Decoded(info[2]);
}

void Player::OnDrawn(std::int32_t, void*, void* user) { static_cast<Player*>(user)->m_stats.Presented(); }

}  // namespace play
