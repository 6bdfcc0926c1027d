#include "StreamParams.h"

#include <algorithm>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include <rapidjson/document.h>

namespace source {

namespace {

std::string PercentDecode(std::string_view in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < in.size() &&
                   std::isxdigit(static_cast<unsigned char>(in[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(in[i + 2]))) {
            out.push_back(static_cast<char>(std::strtol(std::string(in.substr(i + 1, 2)).c_str(), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

template <class T>
bool ParseNumber(const std::string& text, T& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto [ptr, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && ptr == last;
}

bool ParseDouble(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(out);
}

// Reads an integer or a decimal text: page request texts carry times as strings.
std::optional<std::int64_t> JsonInteger(const rapidjson::Value& v) {
    if (v.IsInt64()) return v.GetInt64();
    if (v.IsString()) {
        std::int64_t out = 0;
        if (ParseNumber(std::string(v.GetString(), v.GetStringLength()), out)) return out;
    }
    return std::nullopt;
}

std::optional<double> JsonNumber(const rapidjson::Value& v) {
    if (v.IsNumber()) return v.GetDouble();
    if (v.IsString()) {
        double out = 0;
        if (ParseDouble(std::string(v.GetString(), v.GetStringLength()), out)) return out;
    }
    return std::nullopt;
}

}  // namespace

ParseResult ParseTarget(std::string_view target) {
    ParseResult result;
    StreamParams p;
    auto q = target.find('?');
    std::string_view query = q == std::string_view::npos ? std::string_view{} : target.substr(q + 1);
    auto fail = [&](std::string key, const std::string& value) {
        result.error = "bad value for " + key + ": " + value;
        return result;
    };
    while (!query.empty()) {
        auto amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        if (pair.empty()) continue;
        auto eq = pair.find('=');
        std::string key = PercentDecode(pair.substr(0, eq));
        std::string value = eq == std::string_view::npos ? std::string{} : PercentDecode(pair.substr(eq + 1));
        if (key == "codec") {
            if (value == "h264") p.codec = WireCodec::H264;
            else if (value == "h265" || value == "hevc") p.codec = WireCodec::H265;
            else if (value == "mjpeg") p.codec = WireCodec::Mjpeg;
            else return fail(key, value);
        } else if (key == "width" || key == "height") {
            int v = 0;
            // Even sizes only: the pictures are 4:2:0.
            if (!ParseNumber(value, v) || v < 32 || v > 4096 || v % 2 != 0) return fail(key, value);
            (key == "width" ? p.width : p.height) = v;
        } else if (key == "fps") {
            if (!ParseNumber(value, p.fps) || p.fps < 1 || p.fps > 120) return fail(key, value);
        } else if (key == "audio") {
            if (value == "none") p.audio = AudioKind::None;
            else if (value == "g711a") p.audio = AudioKind::G711A;
            else if (value == "g711u") p.audio = AudioKind::G711U;
            else if (value == "aac") p.audio = AudioKind::Aac;
            else return fail(key, value);
        } else if (key == "arate") {
            if (!ParseNumber(value, p.audioRate) ||
                !(p.audioRate == 8000 || p.audioRate == 16000 || p.audioRate == 32000 ||
                  p.audioRate == 44100 || p.audioRate == 48000))
                return fail(key, value);
        } else if (key == "mode") {
            if (value == "live") p.mode = StreamMode::Live;
            else if (value == "playback") p.mode = StreamMode::Playback;
            else if (value == "download") p.mode = StreamMode::Download;
            else if (value == "talk") p.mode = StreamMode::Talk;
            else return fail(key, value);
        } else if (key == "code") {
            int v = 0;
            if (!ParseNumber(value, v)) return fail(key, value);
            p.code = v;
        } else if (key == "frames") {
            std::int64_t v = 0;
            if (!ParseNumber(value, v) || v < 0) return fail(key, value);
            p.frames = v;
        } else if (key == "dot") {
            if (value != "0" && value != "1") return fail(key, value);
            p.dot = value == "1";
        } else if (key == "fragment") {
            std::size_t v = 0;
            if (!ParseNumber(value, v)) return fail(key, value);
            p.fragment = v;
        } else if (key == "start" || key == "end") {
            std::uint32_t v = 0;
            if (!ParseNumber(value, v) || v == 0) return fail(key, value);
            (key == "start" ? p.start : p.end) = v;
        } else if (key == "speed") {
            double v = 0;
            auto factor = ParseDouble(value, v) ? SpeedFactor(v) : std::nullopt;
            if (!factor) return fail(key, value);
            p.speed = *factor;
        } else if (key == "pace") {
            if (value != "0" && value != "1") return fail(key, value);
            p.paced = value == "1";
        } else if (key == "fault") {
            static const std::pair<const char*, Fault> kFaults[] = {
                {"refuse", Fault::Refuse}, {"stall", Fault::Stall},   {"trickle", Fault::Trickle},
                {"silent", Fault::Silent}, {"reset", Fault::Reset},   {"garbage", Fault::Garbage},
                {"oversize", Fault::Oversize}};
            auto it = std::find_if(std::begin(kFaults), std::end(kFaults),
                                   [&](const auto& f) { return value == f.first; });
            if (it == std::end(kFaults)) return fail(key, value);
            p.fault = it->second;
        } else if (key == "container") {
            if (value != "frames" && value != "mp4") return fail(key, value);
            p.wholeFile = value == "mp4";
        }
    }
    if (p.start && p.end && *p.end <= *p.start) {
        result.error = "end must be after start";
        return result;
    }
    result.params = p;
    return result;
}

void ApplyRequestText(std::string_view text, StreamParams& params) {
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    if (doc.HasParseError() || !doc.IsObject()) return;
    auto data = doc.FindMember("data");
    if (data == doc.MemberEnd() || !data->value.IsObject()) return;
    const auto& d = data->value;
    auto positive32 = [](std::optional<std::int64_t> v) -> std::optional<std::uint32_t> {
        if (v && *v > 0 && *v <= 0xffffffffLL) return static_cast<std::uint32_t>(*v);
        return std::nullopt;
    };
    if (!params.start && !params.end) {
        auto s = d.FindMember("startTime");
        auto e = d.FindMember("endTime");
        auto start = s != d.MemberEnd() ? positive32(JsonInteger(s->value)) : std::nullopt;
        auto end = e != d.MemberEnd() ? positive32(JsonInteger(e->value)) : std::nullopt;
        // A range that makes no sense is ignored rather than ending the stream at once.
        if (start && (!end || *end > *start)) {
            params.start = start;
            params.end = end;
        }
    }
    auto sp = d.FindMember("speed");
    if (sp != d.MemberEnd()) {
        if (auto v = JsonNumber(sp->value)) {
            if (auto f = SpeedFactor(*v)) params.speed = *f;
        }
    }
}

std::optional<double> SpeedFactor(double value) {
    if (!std::isfinite(value) || value == 0 || std::fabs(value) > 64 || std::fabs(value) < 1.0 / 64)
        return std::nullopt;
    return value > 0 ? value : 1.0 / -value;
}

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::None: return "none";
        case Fault::Refuse: return "refuse";
        case Fault::Stall: return "stall";
        case Fault::Trickle: return "trickle";
        case Fault::Silent: return "silent";
        case Fault::Reset: return "reset";
        case Fault::Garbage: return "garbage";
        case Fault::Oversize: return "oversize";
    }
    return "?";
}

const char* ModeName(StreamMode mode) {
    switch (mode) {
        case StreamMode::Live: return "live";
        case StreamMode::Playback: return "playback";
        case StreamMode::Download: return "download";
        case StreamMode::Talk: return "talk";
    }
    return "?";
}

const char* CodecName(WireCodec codec) {
    switch (codec) {
        case WireCodec::H264: return "h264";
        case WireCodec::H265: return "h265";
        case WireCodec::Mjpeg: return "mjpeg";
        case WireCodec::G711A: return "g711a";
        case WireCodec::G711U: return "g711u";
        case WireCodec::Aac: return "aac";
    }
    return "?";
}

const char* AudioName(AudioKind audio) {
    switch (audio) {
        case AudioKind::None: return "none";
        case AudioKind::G711A: return "g711a";
        case AudioKind::G711U: return "g711u";
        case AudioKind::Aac: return "aac";
    }
    return "?";
}

const char* TalkCodecName(int code) {
    switch (code) {
        case 16: case 1: return "g711a";
        case 17: case 2: return "g711u";
        case 21: case 39: return "aac";
        case 22: return "mp2";
        default: return "unknown";
    }
}

}  // namespace source
