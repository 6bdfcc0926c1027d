#pragma once
// Position, pacing and end of one connection's stream: which message goes next and when.
// Knows nothing of sockets; owned and called by one session on its strand.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "MediaLoops.h"
#include "StreamParams.h"

namespace source {

class StreamCursor {
public:
    using Clock = std::chrono::steady_clock;

    struct Item {
        std::shared_ptr<const std::string> message;  // header + payload
        bool video = false;
        bool key = false;
    };

    // `video` may be empty (talk sends audio only); `audio` may be empty. Stream time starts
    // at `startTime` seconds; with `endTime` the stream ends there.
    StreamCursor(const StreamParams& params, std::shared_ptr<const VideoLoop> video,
                 std::shared_ptr<const AudioLoop> audio, std::uint32_t startTime,
                 std::optional<std::uint32_t> endTime, Clock::time_point now);

    bool Finished() const;
    bool Empty() const { return !m_video && !m_audio; }
    Clock::time_point NextDue() const;
    Item Take();

    void Pause(Clock::time_point now);
    void Resume(Clock::time_point now);
    bool Paused() const { return m_paused; }
    void SetSpeed(double factor, Clock::time_point now);
    // Moves to `time` (clamped into the range), restarting at a key frame. Returns the time
    // actually reached.
    std::uint32_t Seek(std::uint32_t time, Clock::time_point now);

    std::uint64_t VideoSent() const { return m_videoSent; }
    std::uint64_t AudioSent() const { return m_audioSent; }
    std::uint32_t StartTime() const { return m_startTime; }
    std::optional<std::uint32_t> EndTime() const { return m_endTime; }

private:
    std::int64_t VideoMedia() const;  // microseconds from the start of the next video frame
    std::int64_t AudioMedia() const;
    bool NextIsVideo() const;
    std::int64_t MediaNow(Clock::time_point now) const;
    void Anchor(std::int64_t media, Clock::time_point now);

    StreamParams m_params;
    std::shared_ptr<const VideoLoop> m_video;
    std::shared_ptr<const AudioLoop> m_audio;
    std::uint32_t m_startTime;
    std::optional<std::uint32_t> m_endTime;
    std::optional<std::int64_t> m_totalFrames;

    std::int64_t m_videoIndex = 0;   // frames since the start time
    std::size_t m_loopPos = 0;       // position in the video loop
    std::int64_t m_audioIndex = 0;   // blocks since the start time
    std::uint64_t m_videoSent = 0;
    std::uint64_t m_audioSent = 0;

    double m_speed = 1.0;
    bool m_paused = false;
    std::int64_t m_mediaAnchor = 0;
    Clock::time_point m_wallAnchor;
};

}  // namespace source
