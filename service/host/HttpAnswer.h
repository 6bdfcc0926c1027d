#pragma once
// Answers the first request of a connection: WebSocket upgrade, picture upload, file. Server
// thread (and tests).
#include <functional>
#include <string>

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
};

// The whole response, or "" when the connection is to be closed without one. Files are read
// relative to the working directory.
std::string AnswerHttpRequest(const std::string& request, const HttpServices& services);

// The upgrade answer for a request carrying `key`.
std::string BuildUpgradeAnswer(const std::string& key);
