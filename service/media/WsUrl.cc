#include "service/media/WsUrl.h"

#include <cstdio>
#include <cstring>

namespace easywsclient {

namespace {
// The forms in the order they are tried; the first that matches wins.
struct UrlForm {
  const char* format;
  bool hasPort;
  bool hasPath;
};
constexpr UrlForm kPlainForms[] = {
    {"ws://%[^:/]:%d/%s", true, true}, {"ws://%[^:/]/%s", false, true},
    {"ws://%[^:/]:%d", true, false},   {"ws://%[^:/]", false, false}};
constexpr UrlForm kTlsForms[] = {
    {"wss://%[^:/]:%d/%s", true, true}, {"wss://%[^:/]/%s", false, true},
    {"wss://%[^:/]:%d", true, false},   {"wss://%[^:/]", false, false}};
constexpr UrlForm kPlainV6Forms[] = {
    {"ws://[%[^]/]]:%d/%s", true, true}, {"ws://[%[^]/]]/%s", false, true},
    {"ws://[%[^]/]]:%d", true, false},   {"ws://[%[^]/]]", false, false}};
constexpr UrlForm kTlsV6Forms[] = {
    {"wss://[%[^]/]]:%d/%s", true, true}, {"wss://[%[^]/]]/%s", false, true},
    {"wss://[%[^]/]]:%d", true, false},   {"wss://[%[^]/]]", false, false}};
// The host goes into the handshake's Host line: a blank or control character there (a line end
// above all) would let a page's URL end that line and add headers of its own.
bool IsHostText(const char* host) {
  for (const char* c = host; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte <= 0x20 || byte == 0x7F) return false;
  }
  return true;
}
}  // namespace

std::optional<WsUrl> ParseWsUrl(const std::string& url) {
  // Every field fits because the whole URL does; longer URLs are never scanned.
  if (url.size() >= kMaxUrlLength) return std::nullopt;
  WsUrl out;
  out.secure = url.compare(0, 6, "wss://") == 0;
  bool v6 = url.find('[') != std::string::npos;
  const UrlForm* forms = out.secure ? (v6 ? kTlsV6Forms : kTlsForms) : (v6 ? kPlainV6Forms : kPlainForms);
  for (int i = 0; i < 4; ++i) {
    const UrlForm& form = forms[i];
    char host[kMaxUrlLength] = {};
    char path[kMaxUrlLength] = {};
    int port = 0;
    int matched = form.hasPort ? std::sscanf(url.c_str(), form.format, host, &port, path)
                               : std::sscanf(url.c_str(), form.format, host, path);
    int want = 1 + (form.hasPort ? 1 : 0) + (form.hasPath ? 1 : 0);
    if (matched != want) continue;
    if (form.hasPort && (port < 1 || port > 65535)) return std::nullopt;
    if (!IsHostText(host)) return std::nullopt;
    out.host = host;
    out.port = form.hasPort ? port : (out.secure ? kDefaultWssPort : kDefaultWsPort);
    out.path = form.hasPath ? path : "";
    return out;
  }
  return std::nullopt;
}

}  // namespace easywsclient
