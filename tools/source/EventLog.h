#pragma once
// One JSON object per line on standard output, flushed at once, so a test can follow the
// source's view of a connection. Any thread may call Emit; one mutex keeps lines whole.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace source {

struct LogField {
    using Value = std::variant<std::int64_t, double, bool, std::string>;
    LogField(const char* k, int v) : key(k), value(std::int64_t{v}) {}
    LogField(const char* k, unsigned v) : key(k), value(std::int64_t{v}) {}
    LogField(const char* k, std::int64_t v) : key(k), value(v) {}
    LogField(const char* k, std::uint64_t v) : key(k), value(static_cast<std::int64_t>(v)) {}
    LogField(const char* k, double v) : key(k), value(v) {}
    LogField(const char* k, bool v) : key(k), value(v) {}
    LogField(const char* k, std::string v) : key(k), value(std::move(v)) {}
    LogField(const char* k, std::string_view v) : key(k), value(std::string(v)) {}
    LogField(const char* k, const char* v) : key(k), value(std::string(v)) {}

    const char* key;
    Value value;
};

// Writes {"event":<event>, fields...} as one line.
void Emit(std::string_view event, std::initializer_list<LogField> fields);

// Client bytes may be anything, and the log must stay valid JSON: control and non-ASCII
// bytes (other than tab, CR, LF) are written as the four characters \xNN.
std::string SafeText(std::string_view bytes);

}  // namespace source
