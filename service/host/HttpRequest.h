#pragma once
// Reading the first request of a connection. Pure functions; server thread (and tests).
#include <cstddef>
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

// The first line from its fifth character on, cut before " HTTP/1.1" and before the first '?'.
std::string GetRequestPath(const std::string& request);

// false when the path, percent-decoded, has a ".." segment between '/' or '\\' separators.
bool IsSafeRequestPath(const std::string& path);

struct FileType {
  bool textMode;
  std::string contentType;
};
// Open mode and content type of the file answer, by the first known extension text found in
// `file` and the path's own extension `ext`.
FileType ChooseFileType(const std::string& file, const std::string& ext);

// A picture upload may only write a name ending in .jpg .jpeg .png .bmp .gif (any case) with no
// ".." segment.
bool IsPictureFileName(const std::string& name);

// The folder part of a path: up to and including its last '\\' or '/'; empty without either.
std::string FolderOf(const std::string& path);
