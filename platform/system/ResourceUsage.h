#pragma once
// Processor and memory load of the whole machine, for the resource guard (its timer thread).
#include <cstdint>
#include <optional>
#include <string>

namespace platform::system {

// Processor use in percent since the previous call on this sampler (the first call measures
// from the sampler's construction). Empty when the counters cannot be read.
class ProcessorSampler {
 public:
  ProcessorSampler();
  std::optional<double> Sample();

  // The busy share between two readings of the counters' text; empty when either is unreadable
  // or no time passed. `previous` is updated to the current reading when it is readable.
  struct Counters {
    std::uint64_t busy = 0;
    std::uint64_t total = 0;
  };
  static std::optional<Counters> ParseCounters(const std::string& text);
  static std::optional<double> BusyPercent(const Counters& before, const Counters& now);

 private:
  std::optional<Counters> m_previous;
};

// Physical memory in use, percent (100 - available / total), truncated; empty when unreadable.
std::optional<int> MemoryLoadPercent();
std::optional<int> MemoryLoadFromText(const std::string& meminfo);

}  // namespace platform::system
