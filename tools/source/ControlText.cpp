#include "ControlText.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include <rapidjson/document.h>

namespace source {

namespace {

std::optional<std::int64_t> AsInteger(const rapidjson::Value& v) {
    if (v.IsInt64()) return v.GetInt64();
    if (v.IsDouble() && std::isfinite(v.GetDouble())) return static_cast<std::int64_t>(v.GetDouble());
    if (v.IsString()) {
        std::int64_t out = 0;
        const char* s = v.GetString();
        auto [p, ec] = std::from_chars(s, s + v.GetStringLength(), out);
        if (ec == std::errc() && p == s + v.GetStringLength()) return out;
    }
    return std::nullopt;
}

std::optional<double> AsNumber(const rapidjson::Value& v) {
    if (v.IsNumber()) return v.GetDouble();
    if (v.IsString() && v.GetStringLength() > 0) {
        char* end = nullptr;
        double d = std::strtod(v.GetString(), &end);
        if (end == v.GetString() + v.GetStringLength()) return d;
    }
    return std::nullopt;
}

// First of `keys` found in the root, then in its "data" object.
template <class Read>
auto Lookup(const rapidjson::Value& root, std::initializer_list<const char*> keys, Read read)
    -> decltype(read(root)) {
    const rapidjson::Value* scopes[2] = {&root, nullptr};
    auto data = root.FindMember("data");
    if (data != root.MemberEnd() && data->value.IsObject()) scopes[1] = &data->value;
    for (const rapidjson::Value* scope : scopes) {
        if (!scope) continue;
        for (const char* key : keys) {
            auto it = scope->FindMember(key);
            if (it != scope->MemberEnd()) {
                if (auto v = read(it->value)) return v;
            }
        }
    }
    return std::nullopt;
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

Control ParseControl(std::string_view text) {
    Control c;
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    if (doc.HasParseError() || !doc.IsObject()) return c;
    auto action = doc.FindMember("action");
    if (action == doc.MemberEnd() || !action->value.IsString()) return c;
    c.action.assign(action->value.GetString(), action->value.GetStringLength());
    const std::string a = Lower(c.action);
    if (a == "pause" || a == "pauseplayback") {
        c.kind = Control::Kind::Pause;
    } else if (a == "resume" || a == "resumeplayback") {
        c.kind = Control::Kind::Resume;
    } else if (a == "seek" || a == "seekplayback") {
        c.time = Lookup(doc, {"time", "seekTime"}, AsInteger);
        c.kind = c.time ? Control::Kind::Seek : Control::Kind::Other;
    } else if (a == "speed" || a == "setplaybackspeed") {
        c.speed = Lookup(doc, {"value", "speed"}, AsNumber);
        c.kind = c.speed ? Control::Kind::Speed : Control::Kind::Other;
    } else if (a == "stop" || a == "stopplayback" || a == "stopplay") {
        c.kind = Control::Kind::Stop;
    } else {
        c.kind = Control::Kind::Other;
    }
    return c;
}

}  // namespace source
