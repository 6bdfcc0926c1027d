#include "service/host/HttpAnswer.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "common/Base64.h"
#include "common/DirectoryPath.h"
#include "service/host/HttpRequest.h"

namespace {

constexpr char kCommonBlock[] =
    "HTTP/1.1 200 OK\r\n"
    "Server: Middleware service\r\n"
    "Connection: close\r\n"
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Private-Network: true\r\n"
    "Cache-Control: max-age=86400\r\n";

// Text mode reads a line end CR LF as LF on every platform, so pages see the same bytes.
std::string ReadWholeFile(const std::string& file, bool textMode) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "";
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) return "";
  if (textMode) {
    std::string out;
    out.reserve(content.size());
    for (std::size_t i = 0; i < content.size(); ++i) {
      if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
      out.push_back(content[i]);
    }
    content.swap(out);
  }
  return content;
}

std::string FileAnswer(const std::string& request) {
  std::string path = GetRequestPath(request);
  std::string file = "." + path;
  std::size_t dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  FileType type = ChooseFileType(file, ext);
  // A path reaching above the working directory is answered as a missing file.
  std::string content = IsSafeRequestPath(path) ? ReadWholeFile(file, type.textMode) : "";
  return std::string(kCommonBlock) + "Content-Type: " + type.contentType + "\r\n" +
         "Content-Length: " + std::to_string(content.size()) + "\r\n\r\n" + content;
}

std::string PictureAnswer(int errorCode) {
  std::string body = "{\"cmd\":\"downloadPicture\",\"data\":{\"errorCode\":" + std::to_string(errorCode) + "}}";
  return std::string(kCommonBlock) + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool WriteWholeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

std::string PostAnswer(const std::string& request, const HttpServices& services) {
  PictureUpload upload;
  if (!services.parseCommand || services.parseCommand(request.substr(request.find('{')), upload) != 0 ||
      upload.cmd != "downloadPicture") {
    return "";
  }
  static const std::string kMarker = "base64,";
  std::size_t marker = upload.fileBase64.find(kMarker);
  if (marker == std::string::npos || !IsPictureFileName(upload.fileName)) return PictureAnswer(-1);
  std::optional<std::vector<std::uint8_t>> bytes = Base64Decode(upload.fileBase64.substr(marker + kMarker.size()));
  if (!bytes) return PictureAnswer(-1);
  std::string folder = FolderOf(upload.fileName);
  if (MakeDirectoryPath(folder) != 0) return "";
  if (!WriteWholeFile(upload.fileName, *bytes)) return PictureAnswer(-1);
  if (services.openFolder) services.openFolder(folder);
  return PictureAnswer(0);
}

}  // namespace

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
  if (GetWebSocketKey(request, key)) return BuildUpgradeAnswer(key);
  if (request.find("HTTP") != std::string::npos) return FileAnswer(request);
  return "";
}
