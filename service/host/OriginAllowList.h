#pragma once
// The optional list of page origins allowed to open a session or upload a picture
// ([Security] AllowedOrigins in config.ini). Built once at start-up; read-only afterwards, so any
// thread may ask it.
#include <optional>
#include <string>
#include <vector>

// "scheme://host[:port]" with scheme and host in lower case and a default port (80 for http and
// ws, 443 for https and wss) left out; nullopt when `text` is no such origin ("null", a path, a
// user name...). One trailing '/' is tolerated, as people write origins in configuration.
std::optional<std::string> NormaliseOrigin(const std::string& text);

class OriginAllowList {
 public:
  // A space-separated list of origins; blank text allows every origin. Once the text names
  // anything the list is in force, even if no entry parses: a typo must not open the service.
  explicit OriginAllowList(const std::string& text = "");

  bool InForce() const { return m_inForce; }
  std::size_t Size() const { return m_origins.size(); }
  // Whether a request whose Origin header is `origin` may go on. Without the header (a local
  // program, not a browser page) it may.
  bool Allows(const std::optional<std::string>& origin) const;

 private:
  bool m_inForce = false;
  std::vector<std::string> m_origins;  // normalised
};
