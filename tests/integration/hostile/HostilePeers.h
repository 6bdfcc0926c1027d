#pragma once
// What a hostile page (or a local program) does to the real service: raw HTTP through curl,
// picture uploads, and WebSocket pages.
#include <memory>
#include <string>

#include "ServiceProcess.h"
#include "WsClient.h"

// curl's whole answer, head included, for `args` (options and URL).
inline std::string Curl(const std::string& args) { return RunCommand("curl -s -i --max-time 10 " + args + " 2>&1"); }

// The answer to `target` sent as it is on the request line of a GET to the plain port.
inline std::string GetTarget(int port, const std::string& target) {
  return Curl("--request-target '" + target + "' http://127.0.0.1:" + std::to_string(port) + "/");
}

// An answer with an empty body: what a missing file gets.
inline bool AnsweredAsMissing(const std::string& answer) {
  const std::string end = "\r\nContent-Length: 0\r\n\r\n";
  return answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && answer.size() >= end.size() &&
         answer.compare(answer.size() - end.size(), end.size(), end) == 0;
}

// The downloadPicture POST naming `fileName` ("hello" in the picture), with extra curl options
// (headers); curl's whole answer.
inline std::string UploadPicture(ServiceProcess& service, const std::string& fileName,
                                 const std::string& curlOptions = "") {
  std::string json = "{\"cmd\":\"downloadPicture\",\"data\":{\"fileName\":\"" + fileName +
                     "\",\"fileBase64\":\"data:image/png;base64,aGVsbG8=\"},\"sequence\":\"1\"}";
  std::string file = service.Dir() + "/post.json";
  FILE* out = std::fopen(file.c_str(), "wb");
  if (!out) return "";
  std::fwrite(json.data(), 1, json.size(), out);
  std::fclose(out);
  return Curl(curlOptions + " -X POST --data-binary @" + file + " http://127.0.0.1:" + std::to_string(service.Port()) +
              "/");
}

inline const std::string kUploadRefused = "{\"cmd\":\"downloadPicture\",\"data\":{\"errorCode\":-1}}";
inline const std::string kUploadDone = "{\"cmd\":\"downloadPicture\",\"data\":{\"errorCode\":0}}";

inline bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// An upgraded page on the plain port, or null.
inline std::unique_ptr<WsClient> OpenPage(int port) {
  auto page = std::make_unique<WsClient>();
  if (!page->Connect(platform::net::Family::kIPv4, port, false) || !page->Upgrade()) return nullptr;
  return page;
}

// The reply to one command on `page`, "" when none came.
inline std::string Ask(WsClient& page, const std::string& command) {
  if (!page.SendText(command)) return "";
  return page.ReadText().value_or("");
}

// Whether a new page still gets its webconnect answered: the service is alive and serving.
inline bool ServiceAnswersPages(int port) {
  std::unique_ptr<WsClient> page = OpenPage(port);
  return page && Ask(*page, WebConnect("alive")).find("\"errorCode\":0") != std::string::npos;
}
