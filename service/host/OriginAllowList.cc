#include "service/host/OriginAllowList.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool AllOf(const std::string& text, const char* extra) {
  return std::all_of(text.begin(), text.end(), [extra](unsigned char c) {
    return std::isalnum(c) || std::string(extra).find(static_cast<char>(c)) != std::string::npos;
  });
}

}  // namespace

std::optional<std::string> NormaliseOrigin(const std::string& text) {
  std::string origin = text;
  if (!origin.empty() && origin.back() == '/') origin.pop_back();
  std::size_t separator = origin.find("://");
  if (separator == std::string::npos || separator == 0) return std::nullopt;
  std::string scheme = Lower(origin.substr(0, separator));
  std::string authority = origin.substr(separator + 3);
  if (!std::isalpha(static_cast<unsigned char>(scheme[0])) || !AllOf(scheme, "+-.")) return std::nullopt;

  std::string host, port;
  if (!authority.empty() && authority[0] == '[') {
    std::size_t close = authority.find(']');
    if (close == std::string::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    if (!AllOf(host.substr(1, host.size() - 2), ":.") || host.size() < 3) return std::nullopt;
    std::string rest = authority.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return std::nullopt;
    if (!rest.empty()) port = rest.substr(1);
    if (!rest.empty() && port.empty()) return std::nullopt;
  } else {
    std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string::npos) {
      port = authority.substr(colon + 1);
      if (port.empty()) return std::nullopt;
    }
    if (host.empty() || !AllOf(host, "-._~")) return std::nullopt;
  }
  if (!std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }) || port.size() > 5) {
    return std::nullopt;
  }
  if (!port.empty()) {
    port.erase(0, std::min(port.find_first_not_of('0'), port.size() - 1));
    int number = std::stoi(port);
    if (number == 0 || number > 65535) return std::nullopt;
    bool secure = scheme == "https" || scheme == "wss";
    bool plain = scheme == "http" || scheme == "ws";
    if ((secure && number == 443) || (plain && number == 80)) port.clear();
  }
  std::string result = scheme + "://" + Lower(host);
  if (!port.empty()) result += ":" + port;
  return result;
}

OriginAllowList::OriginAllowList(const std::string& text) {
  // Commas are tolerated between entries, as people write lists.
  std::string spaced = text;
  std::replace(spaced.begin(), spaced.end(), ',', ' ');
  std::istringstream words(spaced);
  std::string word;
  while (words >> word) {
    m_inForce = true;
    std::optional<std::string> origin = NormaliseOrigin(word);
    if (origin) m_origins.push_back(*origin);
  }
}

bool OriginAllowList::Allows(const std::optional<std::string>& origin) const {
  if (!m_inForce || !origin) return true;
  std::optional<std::string> normalised = NormaliseOrigin(*origin);
  return normalised && std::find(m_origins.begin(), m_origins.end(), *normalised) != m_origins.end();
}
