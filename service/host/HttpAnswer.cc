#include "service/host/HttpAnswer.h"

#include <vector>

#include "common/Base64.h"
#include "common/DebugLog.h"
#include "common/DirectoryPath.h"
#include "platform/system/Files.h"
#include "service/host/HttpRequest.h"

namespace {

constexpr char kCommonBlock[] =
    "HTTP/1.1 200 OK\r\n"
    "Server: Middleware service\r\n"
    "Connection: close\r\n"
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Private-Network: true\r\n"
    "Cache-Control: max-age=86400\r\n";

constexpr char kForbidden[] =
    "HTTP/1.1 403 Forbidden\r\n"
    "Server: Middleware service\r\n"
    "Connection: close\r\n"
    "Content-Length: 0\r\n\r\n";

// Text mode reads a line end CR LF as LF on every platform, so pages see the same bytes.
std::string WithoutCarriageReturns(const std::string& content) {
  std::string out;
  out.reserve(content.size());
  for (std::size_t i = 0; i < content.size(); ++i) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
    out.push_back(content[i]);
  }
  return out;
}

// Anything not served (outside the web root, another type, a folder, a special or unreadable
// file) gets the same answer as a missing file, so a page cannot tell them apart.
std::string FileAnswer(const std::string& request, const HttpServices& services) {
  std::string path = GetRequestPath(request);
  // Typed by the name the path decodes to, whether or not that file exists.
  FileType type = ChooseFileType(WebRelativePath(path).value_or(path));
  std::string content;
  if (std::optional<std::string> file = ResolveWebFile(path, services.webRoot)) {
    std::optional<std::string> read = platform::system::ReadRegularFile(*file, kMaxServedFileBytes);
    if (!read) DebugLog("HTTP: %s is not a readable file of at most %zu bytes", file->c_str(), kMaxServedFileBytes);
    if (read) content = type.textMode ? WithoutCarriageReturns(*read) : std::move(*read);
  }
  return std::string(kCommonBlock) + "Content-Type: " + type.contentType + "\r\n" +
         "Content-Length: " + std::to_string(content.size()) + "\r\n\r\n" + content;
}

// Only printable text of bounded length reaches the log.
std::string LoggableText(const std::string& text) {
  std::string out;
  for (char c : text.substr(0, 200)) out.push_back(c >= 0x20 && c < 0x7f ? c : '?');
  return out;
}

bool OriginAllowed(const std::string& request, const HttpServices& services, const char* what) {
  std::optional<std::string> origin = GetHeaderValue(request, "Origin");
  if (services.origins.Allows(origin)) return true;
  DebugLog("Refused %s from origin %s: not in AllowedOrigins", what, LoggableText(*origin).c_str());
  return false;
}

std::string PictureAnswer(int errorCode) {
  std::string body = "{\"cmd\":\"downloadPicture\",\"data\":{\"errorCode\":" + std::to_string(errorCode) + "}}";
  return std::string(kCommonBlock) + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The page names where the picture goes; only a full name is taken (a relative one would land
// wherever the service was started), and never a link or special file at that name.
bool IsUploadTarget(const std::string& name) {
  if (!IsPictureFileName(name) || !platform::system::IsAbsolutePath(name)) return false;
  platform::system::FileKind kind = platform::system::KindOf(name);
  return kind == platform::system::FileKind::kMissing || kind == platform::system::FileKind::kRegular;
}

std::string PostAnswer(const std::string& request, const HttpServices& services) {
  if (!OriginAllowed(request, services, "a picture upload")) return kForbidden;
  PictureUpload upload;
  if (!services.parseCommand || services.parseCommand(request.substr(request.find('{')), upload) != 0 ||
      upload.cmd != "downloadPicture") {
    return "";
  }
  static const std::string kMarker = "base64,";
  std::size_t marker = upload.fileBase64.find(kMarker);
  if (marker == std::string::npos || !IsUploadTarget(upload.fileName)) return PictureAnswer(-1);
  std::optional<std::vector<std::uint8_t>> bytes = Base64Decode(upload.fileBase64.substr(marker + kMarker.size()));
  if (!bytes) return PictureAnswer(-1);
  std::string folder = FolderOf(upload.fileName);
  if (MakeDirectoryPath(folder) != 0) return "";
  if (!platform::system::WriteRegularFile(upload.fileName, bytes->data(), bytes->size())) return PictureAnswer(-1);
  if (services.openFolder) services.openFolder(folder);
  return PictureAnswer(0);
}

}  // namespace

std::optional<std::string> ResolveWebFile(const std::string& path, const std::string& webRoot) {
  std::optional<std::string> relative = WebRelativePath(path);
  if (!relative) return std::nullopt;
  std::optional<std::string> root = platform::system::RealPath(webRoot);
  std::optional<std::string> file = platform::system::RealPath(webRoot + "/" + *relative);
  if (!root || !file) return std::nullopt;
  // A link may point anywhere: what it resolves to must still be a web file inside the root.
  std::string inside = *root == "/" ? *root : *root + "/";
  if (file->compare(0, inside.size(), inside) != 0 || !IsWebFileType(*file)) return std::nullopt;
  return file;
}

std::string BuildUpgradeAnswer(const std::string& key) {
  return "HTTP/1.1 101 Switching Protocols\r\n"
         "Upgrade: websocket\r\n"
         "Connection: Upgrade\r\n"
         "Sec-WebSocket-Accept:" +
         MakeAcceptKey(key) + "\r\n\r\n";
}

std::string AnswerHttpRequest(const std::string& request, const HttpServices& services) {
  // A POST without JSON (a preflight naming POST in a header) is answered like a file request.
  if (request.find("POST") != std::string::npos && request.find('{') != std::string::npos) {
    return PostAnswer(request, services);
  }
  std::string key;
  if (GetWebSocketKey(request, key)) {
    return OriginAllowed(request, services, "a WebSocket session") ? BuildUpgradeAnswer(key) : kForbidden;
  }
  if (request.find("HTTP") != std::string::npos) return FileAnswer(request, services);
  return "";
}
