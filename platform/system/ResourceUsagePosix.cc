#include <fstream>
#include <sstream>

#include "platform/system/ResourceUsage.h"

namespace platform::system {

namespace {
std::string ReadFile(const char* path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
}  // namespace

ProcessorSampler::ProcessorSampler() : m_previous(ParseCounters(ReadFile("/proc/stat"))) {}

std::optional<ProcessorSampler::Counters> ProcessorSampler::ParseCounters(const std::string& text) {
  // "cpu  user nice system idle iowait irq softirq steal ..." - the first line sums all processors.
  std::istringstream in(text);
  std::string label;
  if (!(in >> label) || label != "cpu") return std::nullopt;
  std::uint64_t values[8] = {};
  int n = 0;
  while (n < 8 && in >> values[n]) ++n;
  if (n < 4) return std::nullopt;
  Counters c;
  for (int i = 0; i < n; ++i) c.total += values[i];
  std::uint64_t idle = values[3] + (n > 4 ? values[4] : 0);  // idle and waiting for I/O
  c.busy = c.total - idle;
  return c;
}

std::optional<double> ProcessorSampler::BusyPercent(const Counters& before, const Counters& now) {
  if (now.total <= before.total || now.busy < before.busy) return std::nullopt;
  return 100.0 * static_cast<double>(now.busy - before.busy) / static_cast<double>(now.total - before.total);
}

std::optional<double> ProcessorSampler::Sample() {
  auto now = ParseCounters(ReadFile("/proc/stat"));
  if (!now) return std::nullopt;
  std::optional<double> share = m_previous ? BusyPercent(*m_previous, *now) : std::nullopt;
  m_previous = now;
  return share;
}

std::optional<int> MemoryLoadFromText(const std::string& meminfo) {
  std::istringstream in(meminfo);
  std::string key;
  std::uint64_t value = 0, total = 0, available = 0;
  bool haveTotal = false, haveAvailable = false;
  while (in >> key >> value) {
    if (key == "MemTotal:") {
      total = value;
      haveTotal = true;
    } else if (key == "MemAvailable:") {
      available = value;
      haveAvailable = true;
    }
    in.ignore(256, '\n');
  }
  if (!haveTotal || !haveAvailable || total == 0 || available > total) return std::nullopt;
  return static_cast<int>(100 - (available * 100 + total - 1) / total);
}

std::optional<int> MemoryLoadPercent() { return MemoryLoadFromText(ReadFile("/proc/meminfo")); }

}  // namespace platform::system
