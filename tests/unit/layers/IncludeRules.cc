#include "IncludeRules.h"

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace layers {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// Longest prefixes first.
const std::pair<const char*, const char*> kFolders[] = {
    {"vxavplayer/include/", "avapi"}, {"vxavplayer/", "vxavplayer"},  {"service/events/", "events"},
    {"service/settings/", "settings"}, {"service/windows/", "windows"}, {"service/media/", "media"},
    {"service/protocol/", "protocol"}, {"service/host/", "host"},       {"common/", "common"},
    {"libthread/", "libthread"},       {"platform/", "platform"},       {"watchdog/", "watchdog"},
};

// What each layer may include besides itself. Inside service/, host and protocol sit on top,
// windows and media below them side by side, settings beside; IEvent (events) is the only way
// windows and media reach the server.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"common", {}},
    {"libthread", {}},
    {"platform", {"common"}},
    {"avapi", {}},
    {"vxavplayer", {"avapi", "platform", "common"}},
    {"events", {"platform", "common"}},
    {"settings", {"common", "platform", "libthread"}},
    {"windows", {"events", "avapi", "common", "platform", "libthread"}},
    {"media", {"events", "avapi", "common", "platform", "libthread"}},
    {"protocol", {"events", "settings", "windows", "media", "avapi", "common", "platform", "libthread"}},
    {"host", {"protocol", "events", "settings", "windows", "media", "avapi", "common", "platform", "libthread"}},
    {"watchdog", {"common", "platform"}},
};

const char* const kOsPrefixes[] = {"sys/", "X11/", "netinet/", "arpa/", "linux/", "xcb/", "net/"};
const char* const kOsHeaders[] = {"unistd.h",  "windows.h", "pthread.h", "fcntl.h",    "dirent.h",
                                  "poll.h",    "signal.h",  "dlfcn.h",   "netdb.h",    "spawn.h",
                                  "termios.h", "sched.h",   "winsock2.h", "ws2tcpip.h", "semaphore.h",
                                  "ifaddrs.h", "pwd.h",     "grp.h"};

}  // namespace

std::vector<Include> ParseIncludes(const std::string& source) {
  static const std::regex kLine(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  std::vector<Include> out;
  std::istringstream in(source);
  std::string line;
  bool inComment = false;
  for (int number = 1; std::getline(in, line); ++number) {
    if (inComment) {
      size_t end = line.find("*/");
      if (end == std::string::npos) continue;
      inComment = false;
      line = line.substr(end + 2);
    }
    std::smatch m;
    if (std::regex_search(line, m, kLine)) {
      out.push_back({m[2].str(), m[1].str() == "<", number});
      continue;
    }
    size_t open = line.find("/*");
    if (open != std::string::npos && line.find("*/", open + 2) == std::string::npos &&
        line.substr(0, open).find("//") == std::string::npos)
      inComment = true;
  }
  return out;
}

std::string LayerOf(const std::string& path) {
  for (const auto& [prefix, layer] : kFolders)
    if (StartsWith(path, prefix)) return layer;
  return StartsWith(path, "service/") ? "?" : "";
}

bool MayInclude(const std::string& from, const std::string& to, std::string* why) {
  std::string source = LayerOf(from), target = LayerOf(to);
  if (source == "?" || target == "?") {
    *why = "a service folder without a row in the layer table";
    return false;
  }
  if (source.empty() || source == target) return true;
  if (target.empty()) {
    *why = "a layered folder reaches outside the layers (tools, tests...)";
    return false;
  }
  if (kAllowed.at(source).count(target)) return true;
  *why = source + " may not include " + target;
  return false;
}

bool IsOsHeader(const std::string& header) {
  for (const char* prefix : kOsPrefixes)
    if (StartsWith(header, prefix)) return true;
  return std::find(std::begin(kOsHeaders), std::end(kOsHeaders), header) != std::end(kOsHeaders);
}

bool MayIncludeOsHeaders(const std::string& path) {
  return StartsWith(path, "platform/") || StartsWith(path, "vxavplayer/") || StartsWith(path, "libthread/");
}

}  // namespace layers
