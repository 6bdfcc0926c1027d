#pragma once
// A small blocking WebSocket client (ws:// and wss://) for the player tool: connect, send text,
// read whole messages. One thread uses it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace play {

struct WsMessage {
  bool text = false;
  std::vector<std::uint8_t> data;
};

class WsClient {
 public:
  WsClient();
  ~WsClient();
  // False with `error` set when the URL is bad, nothing answers, or the upgrade is refused.
  bool Connect(const std::string& url, std::string* error);
  bool SendText(const std::string& text);
  enum class ReadStatus { kMessage, kTimeout, kClosed };
  // Waits up to `timeoutMs` for one whole message (pings are answered on the way).
  ReadStatus Read(WsMessage* message, int timeoutMs);
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

struct WsUrl {
  bool tls = false;
  std::string host;
  int port = 0;
  std::string path;  // with leading '/', query included
};
bool ParseWsUrl(const std::string& url, WsUrl* out);

}  // namespace play
