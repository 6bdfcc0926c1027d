#include "common/DebugLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {
std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}
DebugLogSink& Sink() {
  static DebugLogSink s;
  return s;
}
}  // namespace

void DebugLogText(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) {
      Sink()(text);
      return;
    }
  }
  std::string line = "[Nimbrel] " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void DebugLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    text.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(args);
  DebugLogText(text);
}

void SetDebugLogSink(DebugLogSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(sink);
}
