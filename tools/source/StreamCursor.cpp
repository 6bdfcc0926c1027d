#include "StreamCursor.h"

#include <algorithm>

namespace source {

namespace {
constexpr std::int64_t kMicro = 1000000;
}

StreamCursor::StreamCursor(const StreamParams& params, std::shared_ptr<const VideoLoop> video,
                           std::shared_ptr<const AudioLoop> audio, std::uint32_t startTime,
                           std::optional<std::uint32_t> endTime, Clock::time_point now)
    : m_params(params), m_video(std::move(video)), m_audio(std::move(audio)), m_startTime(startTime),
      m_endTime(endTime), m_speed(params.speed), m_wallAnchor(now) {
    if (m_video && m_endTime) m_totalFrames = static_cast<std::int64_t>(*m_endTime - m_startTime) * m_video->fps;
}

bool StreamCursor::Finished() const {
    if (!m_video) return false;
    if (m_totalFrames && m_videoIndex >= *m_totalFrames) return true;
    return m_params.frames && static_cast<std::int64_t>(m_videoSent) >= *m_params.frames;
}

std::int64_t StreamCursor::VideoMedia() const { return m_videoIndex * kMicro / m_video->fps; }

std::int64_t StreamCursor::AudioMedia() const {
    return m_audioIndex * m_audio->samplesPerBlock * kMicro / m_audio->sampleRate;
}

bool StreamCursor::NextIsVideo() const {
    if (!m_audio) return true;
    if (!m_video) return false;
    return VideoMedia() <= AudioMedia();
}

std::int64_t StreamCursor::MediaNow(Clock::time_point now) const {
    if (m_paused) return m_mediaAnchor;
    auto wall = std::chrono::duration_cast<std::chrono::microseconds>(now - m_wallAnchor).count();
    return m_mediaAnchor + static_cast<std::int64_t>(static_cast<double>(wall) * m_speed);
}

void StreamCursor::Anchor(std::int64_t media, Clock::time_point now) {
    m_mediaAnchor = media;
    m_wallAnchor = now;
}

StreamCursor::Clock::time_point StreamCursor::NextDue() const {
    const std::int64_t media = NextIsVideo() ? VideoMedia() : AudioMedia();
    const auto ahead = static_cast<std::int64_t>(static_cast<double>(media - m_mediaAnchor) / m_speed);
    return m_wallAnchor + std::chrono::microseconds(ahead);
}

StreamCursor::Item StreamCursor::Take() {
    Item item;
    MediaHeader h;
    h.dot = m_params.dot;
    std::string_view payload;
    if (NextIsVideo()) {
        const AccessUnit& unit = m_video->units[m_loopPos];
        h.video = true;
        h.time = m_startTime + static_cast<std::uint32_t>(m_videoIndex / m_video->fps);
        h.rate = static_cast<std::uint32_t>(m_video->fps);
        h.width = static_cast<std::uint32_t>(m_video->width);
        h.height = static_cast<std::uint32_t>(m_video->height);
        h.codec = static_cast<std::uint8_t>(m_video->codec);
        h.frameType = unit.key ? 1 : 0;
        payload = unit.data;
        item.video = true;
        item.key = unit.key;
        ++m_videoIndex;
        ++m_videoSent;
        m_loopPos = (m_loopPos + 1) % m_video->units.size();
    } else {
        const std::string& block = m_audio->blocks[static_cast<std::size_t>(m_audioIndex) % m_audio->blocks.size()];
        h.video = false;
        h.time = m_startTime + static_cast<std::uint32_t>(AudioMedia() / kMicro);
        h.rate = static_cast<std::uint32_t>(m_audio->sampleRate);
        h.codec = static_cast<std::uint8_t>(m_audio->codec);
        h.frameType = 1;
        payload = block;
        item.key = true;
        ++m_audioIndex;
        ++m_audioSent;
    }
    const auto header = EncodeHeader(h);
    auto message = std::make_shared<std::string>();
    message->reserve(header.size() + payload.size());
    message->append(reinterpret_cast<const char*>(header.data()), header.size());
    message->append(payload);
    item.message = std::move(message);
    return item;
}

void StreamCursor::Pause(Clock::time_point now) {
    if (m_paused) return;
    Anchor(MediaNow(now), now);
    m_paused = true;
}

void StreamCursor::Resume(Clock::time_point now) {
    if (!m_paused) return;
    m_paused = false;
    // Continue from the next unsent message, not from where the clock would have been.
    Anchor(std::min(m_mediaAnchor, NextIsVideo() ? (m_video ? VideoMedia() : 0) : AudioMedia()), now);
}

void StreamCursor::SetSpeed(double factor, Clock::time_point now) {
    Anchor(MediaNow(now), now);
    m_speed = factor;
}

std::uint32_t StreamCursor::Seek(std::uint32_t time, Clock::time_point now) {
    std::uint32_t target = std::max(time, m_startTime);
    if (m_endTime && target >= *m_endTime) target = *m_endTime - 1;
    if (m_video) {
        m_videoIndex = static_cast<std::int64_t>(target - m_startTime) * m_video->fps;
        // Restart the loop at the key frame at or before the matching loop position.
        std::size_t pos = static_cast<std::size_t>(m_videoIndex % static_cast<std::int64_t>(m_video->units.size()));
        while (pos > 0 && !m_video->units[pos].key) --pos;
        m_loopPos = pos;
    }
    const std::int64_t media = static_cast<std::int64_t>(target - m_startTime) * kMicro;
    if (m_audio) {
        const std::int64_t blockMicros = m_audio->samplesPerBlock * kMicro / m_audio->sampleRate;
        m_audioIndex = (media + blockMicros - 1) / blockMicros;
    }
    Anchor(media, now);
    return target;
}

}  // namespace source
