#pragma once
// Stream source URLs: ws:// and wss://, host name or bracketed IPv6 literal, optional port and path.
// Pure functions; any thread.
#include <optional>
#include <string>

namespace easywsclient {

constexpr size_t kMaxUrlLength = 128;  // a URL this long or longer is refused
constexpr int kDefaultWsPort = 80;
constexpr int kDefaultWssPort = 443;

struct WsUrl {
  bool secure = false;
  std::string host;  // without brackets
  int port = 0;
  std::string path;  // without the leading "/"
};

// None when no form matches or the host has a blank or control character (the caller reports
// it). The length limit is the caller's check.
std::optional<WsUrl> ParseWsUrl(const std::string& url);

}  // namespace easywsclient
