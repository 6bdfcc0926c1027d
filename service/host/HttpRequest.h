#pragma once
// Reading the first request of a connection. Pure functions; server thread (and tests).
#include <cstddef>
#include <optional>
#include <string>

// Only the first 20 lines of a request are looked at for the WebSocket key.
constexpr int kMaxHeaderLines = 20;

// Length of the whole request (header block plus a Content-Length body) once `buffered` holds
// it, else 0.
std::size_t CompleteRequestLength(const std::string& buffered);

// The value of the first "Sec-WebSocket-Key" line among the first 20 non-empty lines: the text
// from two characters after its first ':' to the end of the line. false when no such line is
// there, or it has no ':' or nothing after it (the request is then not an upgrade).
bool GetWebSocketKey(const std::string& request, std::string& key);

// The 28-character Sec-WebSocket-Accept value for `key`.
std::string MakeAcceptKey(const std::string& key);

// The request target of the first line: the text between its first and second blank, cut before
// the first '?' or '#'.
std::string GetRequestPath(const std::string& request);

// The value of the first header `name` (any case) in the header block, blanks around it trimmed;
// nullopt when the request has no such header.
std::optional<std::string> GetHeaderValue(const std::string& request, const std::string& name);

// Files are served from one folder, the web root, under this URL prefix.
constexpr char kWebUrlPrefix[] = "/web/";

// The name below the web root that a request path names ("test/overlay.html" for
// "/web/test/overlay.html"), percent-decoded, with empty and "." segments dropped; nullopt when
// the path is outside the prefix, has a ".." or hidden segment, a backslash, NUL or control
// character, or does not end in a web file type.
std::optional<std::string> WebRelativePath(const std::string& path);

// Whether `name` ends in a web file type: html htm js mjs css json png jpg jpeg gif bmp svg ico
// webp wasm woff woff2 ttf map txt (any case).
bool IsWebFileType(const std::string& name);

struct FileType {
  bool textMode;
  std::string contentType;
};
// Open mode and content type of the file answer by the extension of `name` (any case). Text mode
// turns CR LF into LF, for html, css, JavaScript and JSON.
FileType ChooseFileType(const std::string& name);

// A picture upload may only write a name ending in .jpg .jpeg .png .bmp .gif (any case) with no
// ".." segment.
bool IsPictureFileName(const std::string& name);

// The folder part of a path: up to and including its last '\\' or '/'; empty without either.
std::string FolderOf(const std::string& path);
