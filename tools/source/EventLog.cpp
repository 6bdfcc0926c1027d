#include "EventLog.h"

#include <cstdio>
#include <mutex>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace source {

namespace {
std::mutex g_outputMutex;
}

std::string SafeText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
        } else if (c == '\n' || c == '\r' || c == '\t') {
            out.push_back(static_cast<char>(c));
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        }
    }
    return out;
}

void Emit(std::string_view event, std::initializer_list<LogField> fields) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("event");
    writer.String(event.data(), static_cast<rapidjson::SizeType>(event.size()));
    for (const LogField& f : fields) {
        writer.Key(f.key);
        if (auto i = std::get_if<std::int64_t>(&f.value)) {
            writer.Int64(*i);
        } else if (auto d = std::get_if<double>(&f.value)) {
            writer.Double(*d);
        } else if (auto b = std::get_if<bool>(&f.value)) {
            writer.Bool(*b);
        } else {
            const std::string& s = std::get<std::string>(f.value);
            writer.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
        }
    }
    writer.EndObject();
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::fwrite(buffer.GetString(), 1, buffer.GetSize(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace source
