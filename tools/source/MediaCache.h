#pragma once
// Encoded loops by (codec, width, height, fps) and by (audio codec, rate), each made once on
// first use and then shared. Any thread may call; a second caller of a key that is being
// encoded waits for the first (only the encoder pool's threads ever wait here).

#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "MediaLoops.h"
#include "StreamParams.h"

namespace source {

template <class Loop>
struct Loaded {
    std::shared_ptr<const Loop> loop;  // empty on failure
    std::string error;
};

class MediaCache {
public:
    // With a file loop set, every video request gets the file's video.
    void SetFileVideo(std::shared_ptr<const VideoLoop> loop) { m_fileVideo = std::move(loop); }
    bool HasFileVideo() const { return m_fileVideo != nullptr; }

    Loaded<VideoLoop> Video(WireCodec codec, int width, int height, int fps);
    Loaded<AudioLoop> Audio(AudioKind kind, int sampleRate);

private:
    using VideoKey = std::tuple<int, int, int, int>;
    using AudioKey = std::tuple<int, int>;

    std::shared_ptr<const VideoLoop> m_fileVideo;  // set before serving starts, then read-only
    std::mutex m_mutex;  // guards both maps
    std::map<VideoKey, std::shared_future<Loaded<VideoLoop>>> m_video;
    std::map<AudioKey, std::shared_future<Loaded<AudioLoop>>> m_audio;
};

}  // namespace source
