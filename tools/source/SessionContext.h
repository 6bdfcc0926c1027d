#pragma once
// What every connection shares: the media cache and the pool that encodes into it.

#include <atomic>
#include <cstdint>

#include <boost/asio/thread_pool.hpp>

#include "MediaCache.h"

namespace source {

struct SessionContext {
    MediaCache& cache;
    boost::asio::thread_pool& encoders;  // encoding may take a while; never on the I/O threads
    std::atomic<std::uint64_t> nextId{1};
    std::atomic<int> open{0};            // connections currently open
};

}  // namespace source
