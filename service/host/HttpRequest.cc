#include "service/host/HttpRequest.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/Base64.h"
#include "common/MySHA1.h"

namespace {

constexpr char kWebSocketGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

// Non-empty lines, split at every '\r' and '\n'.
std::vector<std::string> SplitLines(const std::string& text, std::size_t maxLines) {
  std::vector<std::string> lines;
  std::size_t i = 0;
  while (i < text.size() && lines.size() < maxLines) {
    std::size_t end = text.find_first_of("\r\n", i);
    if (end == std::string::npos) end = text.size();
    if (end > i) lines.push_back(text.substr(i, end - i));
    i = end + 1;
  }
  return lines;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

bool HasDotDotSegment(const std::string& path) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find_first_of("/\\", start);
    std::string segment = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (segment == "..") return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

}  // namespace

std::size_t CompleteRequestLength(const std::string& buffered) {
  std::size_t end = buffered.find("\r\n\r\n");
  if (end == std::string::npos) return 0;
  std::size_t headerLength = end + 4;
  std::uint64_t body = 0;
  for (const std::string& line : SplitLines(buffered.substr(0, end), SIZE_MAX)) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos || !EqualsNoCase(line.substr(0, colon), "Content-Length")) continue;
    body = std::strtoull(line.c_str() + colon + 1, nullptr, 10);
    break;
  }
  if (body > buffered.size() - headerLength) return 0;
  return headerLength + static_cast<std::size_t>(body);
}

bool GetWebSocketKey(const std::string& request, std::string& key) {
  for (const std::string& line : SplitLines(request, kMaxHeaderLines)) {
    if (line.find("Sec-WebSocket-Key") == std::string::npos) continue;
    std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon + 2 > line.size()) return false;
    key = line.substr(colon + 2);
    return true;
  }
  return false;
}

std::string MakeAcceptKey(const std::string& key) {
  std::string s = key + kWebSocketGuid;
  MySHA1 sha;
  sha.Input(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  std::uint8_t digest[20];
  sha.Result(digest);
  return Base64Encode(digest, sizeof digest);
}

std::string GetRequestPath(const std::string& request) {
  std::size_t lineEnd = request.find_first_of("\r\n");
  std::string line = request.substr(0, lineEnd);
  if (line.size() <= 4) return "";
  std::string path = line.substr(4);
  std::size_t version = path.find(" HTTP/1.1");
  if (version != std::string::npos) path.resize(version);
  std::size_t query = path.find('?');
  if (query != std::string::npos) path.resize(query);
  return path;
}

bool IsSafeRequestPath(const std::string& path) {
  if (path.find('\0') != std::string::npos) return false;
  std::string decoded = PercentDecode(path);
  return decoded.find('\0') == std::string::npos && !HasDotDotSegment(decoded);
}

FileType ChooseFileType(const std::string& file, const std::string& ext) {
  struct Rule {
    const char* found;
    bool textMode;
    const char* prefix;
  };
  static const Rule kRules[] = {{".html", true, "text/"},   {".css", true, "text/"},
                                {".png", false, "image/"}, {".bmp", false, "image/"},
                                {".gif", false, "image/"}};
  for (const Rule& rule : kRules) {
    if (file.find(rule.found) != std::string::npos) return {rule.textMode, rule.prefix + ext};
  }
  if (file.find(".js") != std::string::npos) return {true, "application/x-javascript"};
  return {false, "text/plain"};
}

bool IsPictureFileName(const std::string& name) {
  static const char* const kExtensions[] = {".jpg", ".jpeg", ".png", ".bmp", ".gif"};
  if (HasDotDotSegment(name) || name.find('\0') != std::string::npos) return false;
  std::string base = name.substr(FolderOf(name).size());
  for (const char* ext : kExtensions) {
    if (base.size() > std::char_traits<char>::length(ext) && EndsWithNoCase(base, ext)) return true;
  }
  return false;
}

std::string FolderOf(const std::string& path) {
  std::size_t last = path.find_last_of("\\/");
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}
