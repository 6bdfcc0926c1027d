#include "service/media/WsHandshake.h"

namespace easywsclient {

std::vector<std::string> BuildRequestLines(const WsUrl& url, const std::string& origin) {
  std::vector<std::string> lines;
  lines.push_back("GET /" + url.path + " HTTP/1.1\r\n");
  // An IPv6 literal keeps its brackets, or its colons would read as a port.
  std::string host = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
  if (url.port == 80) {
    lines.push_back("Host: " + host + "\r\n");
  } else {
    lines.push_back("Host: " + host + ":" + std::to_string(url.port) + "\r\n");
  }
  lines.push_back("Upgrade: websocket\r\n");
  lines.push_back("Connection: Upgrade\r\n");
  if (!origin.empty()) lines.push_back("Origin: " + origin + "\r\n");
  lines.push_back(std::string("Sec-WebSocket-Key: ") + kWebSocketKey + "\r\n");
  lines.push_back("Sec-WebSocket-Version: 13\r\n");
  lines.push_back("\r\n");
  return lines;
}

}  // namespace easywsclient
