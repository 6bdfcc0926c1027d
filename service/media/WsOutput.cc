#include "service/media/WsOutput.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace easywsclient {

namespace {
std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}
WsOutputSink& Sink() {
  static WsOutputSink s;
  return s;
}
}  // namespace

void WsPrint(OutputStream stream, const char* format, ...) {
  // Every text is short: a URL under 128 bytes or a status line under 256.
  char buf[768];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  std::string text(buf, n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof buf - 1));
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) {
      Sink()(stream, text);
      return;
    }
  }
  FILE* f = stream == OutputStream::kOut ? stdout : stderr;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

void SetWsOutputSink(WsOutputSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(sink);
}

}  // namespace easywsclient
