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

// Page resources: everything else under the web root is refused.
struct WebType {
  const char* extension;
  bool textMode;
  const char* contentType;
};
const WebType kWebTypes[] = {
    {"html", true, "text/html"},       {"htm", true, "text/html"},
    {"css", true, "text/css"},         {"js", true, "application/x-javascript"},
    {"mjs", true, "application/x-javascript"},
    {"json", true, "application/json"}, {"map", false, "application/json"},
    {"txt", false, "text/plain"},      {"png", false, "image/png"},
    {"jpg", false, "image/jpeg"},      {"jpeg", false, "image/jpeg"},
    {"gif", false, "image/gif"},       {"bmp", false, "image/bmp"},
    {"svg", false, "image/svg+xml"},   {"ico", false, "image/x-icon"},
    {"webp", false, "image/webp"},     {"wasm", false, "application/wasm"},
    {"woff", false, "font/woff"},      {"woff2", false, "font/woff2"},
    {"ttf", false, "font/ttf"},
};

const WebType* FindWebType(const std::string& name) {
  std::size_t dot = name.rfind('.');
  std::size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
  std::string extension = name.substr(dot + 1);
  for (const WebType& type : kWebTypes) {
    if (EqualsNoCase(extension, type.extension)) return &type;
  }
  return nullptr;
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
  std::string line = request.substr(0, request.find_first_of("\r\n"));
  std::size_t start = line.find(' ');
  if (start == std::string::npos) return "";
  std::size_t end = line.find(' ', start + 1);
  std::string path = line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  return path.substr(0, path.find_first_of("?#"));
}

std::optional<std::string> GetHeaderValue(const std::string& request, const std::string& name) {
  std::vector<std::string> lines = SplitLines(request.substr(0, request.find("\r\n\r\n")), SIZE_MAX);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::size_t colon = lines[i].find(':');
    if (colon == std::string::npos || !EqualsNoCase(lines[i].substr(0, colon), name)) continue;
    std::size_t first = lines[i].find_first_not_of(" \t", colon + 1);
    if (first == std::string::npos) return std::string();
    std::size_t last = lines[i].find_last_not_of(" \t");
    return lines[i].substr(first, last + 1 - first);
  }
  return std::nullopt;
}

std::optional<std::string> WebRelativePath(const std::string& path) {
  const std::size_t prefixLength = std::char_traits<char>::length(kWebUrlPrefix);
  if (path.compare(0, prefixLength, kWebUrlPrefix) != 0) return std::nullopt;
  std::string decoded = PercentDecode(path.substr(prefixLength));
  // Backslashes and colons are separators or stream names on Windows; no page file needs them.
  for (char c : decoded) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f || c == '\\' || c == ':') return std::nullopt;
  }
  std::string relative;
  std::size_t start = 0;
  while (start <= decoded.size()) {
    std::size_t end = decoded.find('/', start);
    if (end == std::string::npos) end = decoded.size();
    std::string segment = decoded.substr(start, end - start);
    start = end + 1;
    if (segment.empty() || segment == ".") continue;
    // ".." and hidden names (.git, .env) are never page resources.
    if (segment[0] == '.') return std::nullopt;
    relative += (relative.empty() ? "" : "/") + segment;
  }
  if (relative.empty() || decoded.back() == '/' || !IsWebFileType(relative)) return std::nullopt;
  return relative;
}

bool IsWebFileType(const std::string& name) { return FindWebType(name) != nullptr; }

FileType ChooseFileType(const std::string& name) {
  const WebType* type = FindWebType(name);
  if (!type) return {false, "text/plain"};
  return {type->textMode, type->contentType};
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
