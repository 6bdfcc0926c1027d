#include "Options.h"

#include <charconv>
#include <cstring>

namespace source {

namespace {

bool ParseInt(const char* text, int low, int high, int& out) {
    const char* end = text + std::strlen(text);
    auto [p, ec] = std::from_chars(text, end, out);
    return ec == std::errc() && p == end && out >= low && out <= high;
}

}  // namespace

std::optional<Options> ParseOptions(int argc, char** argv, std::string& error) {
    Options o;
    bool portGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--port") {
            const char* v = value();
            if (!v) return std::nullopt;
            if (!ParseInt(v, 0, 65535, o.port)) {
                error = "bad --port";
                return std::nullopt;
            }
            portGiven = true;
        } else if (arg == "--tls-port") {
            const char* v = value();
            int port = 0;
            if (!v) return std::nullopt;
            if (!ParseInt(v, 0, 65535, port)) {
                error = "bad --tls-port";
                return std::nullopt;
            }
            o.tlsPort = port;
        } else if (arg == "--cert" || arg == "--key" || arg == "--file") {
            const char* v = value();
            if (!v) return std::nullopt;
            (arg == "--cert" ? o.cert : arg == "--key" ? o.key : o.file) = v;
        } else if (arg == "--threads") {
            const char* v = value();
            if (!v) return std::nullopt;
            if (!ParseInt(v, 1, 64, o.threads)) {
                error = "bad --threads";
                return std::nullopt;
            }
        } else {
            error = "unknown argument " + arg;
            return std::nullopt;
        }
    }
    if (o.help) return o;
    if (!portGiven) {
        error = "--port is required (0 picks a free port)";
        return std::nullopt;
    }
    if (o.tlsPort && (o.cert.empty() || o.key.empty())) {
        error = "--tls-port needs --cert and --key";
        return std::nullopt;
    }
    return o;
}

const char* UsageText() {
    return R"(nimbrel-source: a stand-in camera/recorder that serves media over WebSocket.

Usage: nimbrel-source --port N [--tls-port M --cert FILE --key FILE] [--file FILE] [--threads T]

  --port N        serve ws:// on 127.0.0.1 and [::1] port N (0: pick a free port)
  --tls-port M    also serve wss:// on port M (0: pick a free port)
  --cert FILE     PEM certificate for wss://
  --key FILE      PEM private key for wss://
  --file FILE     serve the video of this file (H.264, H.265 or MJPEG), looped,
                  instead of the synthetic pattern
  --threads T     I/O threads (default 2)
  --help          this text

The first line on standard output is {"event":"listening","port":N,"tlsPort":M}; every
later event is one JSON line too. SIGINT/SIGTERM stop the server.

Stream options come from the URL query, e.g. ws://127.0.0.1:N/live?codec=h265&fps=15:
  codec=h264|h265|mjpeg   width=W height=H (even, 32..4096)   fps=1..120
  audio=none|g711a|g711u|aac   arate=8000|16000|32000|44100|48000 (AAC rate)
  mode=live|playback|download|talk   start=T end=T (stream time, seconds)
  speed=S   pace=0|1 (download at frame rate)   code=N (answer {"code":N} only)
  frames=N (end of data after N frames)   dot=0|1   fragment=BYTES
See tools/source/README.md for the request, control texts and answers.
)";
}

}  // namespace source
