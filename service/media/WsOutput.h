#pragma once
// Where the stream client's own texts go: thread messages to standard output, errors to standard
// error. Any thread; each text is written with one call.
#include <functional>
#include <string>

namespace easywsclient {

enum class OutputStream { kOut, kError };

// printf-style; the text is written as given (it carries its own "\n").
void WsPrint(OutputStream stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Tests capture the texts; an empty sink restores the standard streams.
using WsOutputSink = std::function<void(OutputStream, const std::string&)>;
void SetWsOutputSink(WsOutputSink sink);

}  // namespace easywsclient
