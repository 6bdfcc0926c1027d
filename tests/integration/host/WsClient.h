#pragma once
// A small blocking WebSocket client over loopback, plain or TLS, for integration tests and benches.
#include <optional>
#include <string>

#include "platform/net/Socket.h"

typedef struct ssl_st SSL;

class WsClient {
 public:
  WsClient() = default;
  ~WsClient();
  WsClient(const WsClient&) = delete;
  WsClient& operator=(const WsClient&) = delete;

  // TCP connect, and the TLS handshake when `tls`. Reads wait at most `timeoutMs`.
  bool Connect(platform::net::Family family, int port, bool tls, int timeoutMs = 10000);
  // Sends the upgrade request and checks the 101 answer and its accept value.
  bool Upgrade();
  bool SendRaw(const std::string& bytes);
  // One masked text frame.
  bool SendText(const std::string& text);
  static std::string MaskedFrame(int first, const std::string& payload);
  // The payload of the next frame; none on time-out or close.
  std::optional<std::string> ReadText();
  // An HTTP answer's status line and headers, through the empty line.
  std::string ReadHttpHead();
  // true when the peer closed the connection within the time-out.
  bool WaitClosed();
  void Close();
  // Exactly `n` bytes (an answer's body); false on time-out or close.
  bool ReadExact(std::string& out, std::size_t n);
  // How long later reads wait.
  void SetReadTimeout(int timeoutMs);

 private:
  int ReadSome(char* buffer, std::size_t size);  // >0 bytes, 0 closed, -1 error/time-out
  // Reads until at least `n` bytes wait in m_pending; false on time-out or close.
  bool Fill(std::size_t n);

  platform::net::SocketHandle m_socket = platform::net::kInvalidSocket;
  SSL* m_ssl = nullptr;
  std::string m_pending;  // bytes read past the last frame
};

// A webconnect command text with `sequence`.
std::string WebConnect(const std::string& sequence);
// The value of a string member "name" in a compact JSON text, or "" when absent.
std::string JsonString(const std::string& json, const std::string& name);
