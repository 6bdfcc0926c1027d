#include "service/media/DownloadProgress.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>

namespace {
// The decimal number a text starts with (as atoi reads it), or none when it starts with none.
std::optional<long long> DecimalValue(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(begin, &end, 10);
  if (end == begin || errno == ERANGE) return std::nullopt;
  return value;
}

int Capped(long double percent) {
  if (!(percent > 0)) return 0;
  return static_cast<int>(std::min<long double>(percent, kProgressBeforeEnd));
}
}  // namespace

int WholeFileProgress(std::uint64_t written, const std::string& totalSizeText) {
  const auto total = DecimalValue(totalSizeText);
  if (!total || *total <= 0) return 0;
  return Capped(static_cast<long double>(written) * 100 / static_cast<long double>(*total));
}

int FrameTimeProgress(std::uint32_t frameTime, const std::string& startText, const std::string& endText) {
  const long long start = DecimalValue(startText).value_or(0);
  const long long end = DecimalValue(endText).value_or(0);
  if (end == start) return kProgressBeforeEnd;
  const long long elapsed = std::max<long long>(0, static_cast<long long>(frameTime) - start);
  return Capped(static_cast<long double>(elapsed) * 100 / static_cast<long double>(end - start));
}
