#include <cstdio>

#include "platform/system/SessionLock.h"

namespace platform::system {

namespace {

bool IsAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string SessionObjectPath(std::string_view sessionId) {
  std::string path = "/org/freedesktop/login1/session/";
  if (sessionId.empty()) return path + "_";
  for (size_t i = 0; i < sessionId.size(); ++i) {
    char c = sessionId[i];
    if (IsAlnum(c) && !(i == 0 && c >= '0' && c <= '9')) {
      path += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "_%02x", static_cast<unsigned char>(c));
      path += hex;
    }
  }
  return path;
}

std::optional<std::string> ParseObjectPathReply(std::string_view reply) {
  static constexpr std::string_view kPrefix = "(objectpath '";
  size_t start = reply.find(kPrefix);
  if (start == std::string_view::npos) return std::nullopt;
  start += kPrefix.size();
  size_t end = reply.find('\'', start);
  if (end == std::string_view::npos || end == start || reply[start] != '/') return std::nullopt;
  return std::string(reply.substr(start, end - start));
}

std::optional<bool> ParseSessionLockLine(std::string_view line, std::string_view sessionPath) {
  // "<path>: <interface>.<signal> <arguments>"
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (sessionPath.empty() || line.size() <= sessionPath.size() ||
      line.substr(0, sessionPath.size()) != sessionPath)
    return std::nullopt;
  std::string_view rest = line.substr(sessionPath.size());
  static constexpr std::string_view kSeparator = ": org.freedesktop.login1.Session.";
  if (rest.substr(0, kSeparator.size()) != kSeparator) return std::nullopt;
  rest.remove_prefix(kSeparator.size());
  size_t blank = rest.find(' ');
  std::string_view signal = rest.substr(0, blank);
  std::string_view arguments = blank == std::string_view::npos ? "" : rest.substr(blank + 1);
  // Both signals carry no arguments; anything else is some other member of the same name.
  if (arguments != "()") return std::nullopt;
  if (signal == "Lock") return true;
  if (signal == "Unlock") return false;
  return std::nullopt;
}

}  // namespace platform::system
