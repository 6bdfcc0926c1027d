#pragma once
// Answers the first request of a connection: WebSocket upgrade, picture upload, file. Server
// thread (and tests).
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "service/host/OriginAllowList.h"

// What the picture upload takes from the JSON command.
struct PictureUpload {
  std::string cmd;
  std::string fileName;
  std::string fileBase64;
};

struct HttpServices {
  // Fills the upload from JSON text; 0, or -1 when the text does not parse.
  std::function<int(const std::string& json, PictureUpload& upload)> parseCommand;
  // Shows a folder in the file manager; not waited for.
  std::function<void(const std::string& folder)> openFolder;
  // The folder served under /web/; relative names start at the working directory.
  std::string webRoot = "web";
  // Pages allowed to upgrade or upload; an empty list allows all.
  OriginAllowList origins;
};

// A file answer is built whole in memory and queued on its connection, whose outgoing bound is
// 8 MiB: a larger file is answered as missing rather than cut off.
constexpr std::size_t kMaxServedFileBytes = 8 * 1024 * 1024 - 16 * 1024;

// The whole response, or "" when the connection is to be closed without one.
std::string AnswerHttpRequest(const std::string& request, const HttpServices& services);

// The upgrade answer for a request carrying `key`.
std::string BuildUpgradeAnswer(const std::string& key);

// The file a request path names: a web file type below `webRoot` (links resolved, and the
// result still inside `webRoot`); nullopt when the path names nothing that may be served.
std::optional<std::string> ResolveWebFile(const std::string& path, const std::string& webRoot);
