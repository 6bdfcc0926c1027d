#include "MediaCache.h"

#include "AudioEncoder.h"
#include "EventLog.h"
#include "VideoEncoder.h"

namespace source {

namespace {

// Looks the key up; the caller that inserts it does the work outside the lock.
template <class Map, class Key, class Make>
auto GetOrMake(std::mutex& mutex, Map& map, const Key& key, Make make) {
    using Result = decltype(make());
    std::promise<Result> promise;
    std::shared_future<Result> future;
    bool mine = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = map.find(key);
        if (it == map.end()) {
            future = promise.get_future().share();
            map.emplace(key, future);
            mine = true;
        } else {
            future = it->second;
        }
    }
    if (mine) promise.set_value(make());
    return future.get();
}

}  // namespace

Loaded<VideoLoop> MediaCache::Video(WireCodec codec, int width, int height, int fps) {
    if (m_fileVideo) return {m_fileVideo, {}};
    VideoKey key{static_cast<int>(codec), width, height, fps};
    return GetOrMake(m_mutex, m_video, key, [&] {
        auto loop = std::make_shared<VideoLoop>();
        Loaded<VideoLoop> out;
        if (EncodePatternLoop(codec, width, height, fps, *loop, out.error)) {
            std::size_t bytes = 0;
            for (const auto& u : loop->units) bytes += u.data.size();
            Emit("encoded", {{"codec", CodecName(codec)}, {"width", width}, {"height", height},
                             {"fps", fps}, {"frames", static_cast<std::uint64_t>(loop->units.size())},
                             {"bytes", static_cast<std::uint64_t>(bytes)}});
            out.loop = std::move(loop);
        }
        return out;
    });
}

Loaded<AudioLoop> MediaCache::Audio(AudioKind kind, int sampleRate) {
    AudioKey key{static_cast<int>(kind), sampleRate};
    return GetOrMake(m_mutex, m_audio, key, [&] {
        auto loop = std::make_shared<AudioLoop>();
        Loaded<AudioLoop> out;
        if (EncodeToneLoop(kind, sampleRate, *loop, out.error)) out.loop = std::move(loop);
        return out;
    });
}

}  // namespace source
