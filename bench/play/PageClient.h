#pragma once
// The page's side of the service's WebSocket, as a browser page drives it: commands out, their
// replies (and any notices between them) in.
#include <chrono>
#include <string>

#include "WsClient.h"

class PageClient {
 public:
  // Connects to the service on 127.0.0.1:`port`, retrying while it starts; false after `wait`.
  bool Open(int port, std::chrono::milliseconds wait);
  // Sends `data` as command `cmd` and returns its reply's text ("" when none came in 20 s).
  std::string Command(const std::string& cmd, const std::string& data);
  // Reads (and throws away) notices until `until`; false when the connection closed.
  bool DrainUntil(std::chrono::steady_clock::time_point until);
  void Close() { m_socket.Close(); }

 private:
  WsClient m_socket;
  int m_sequence = 0;
};

// The integer after "name": in a compact JSON text, or `otherwise`.
int JsonInt(const std::string& json, const std::string& name, int otherwise);
