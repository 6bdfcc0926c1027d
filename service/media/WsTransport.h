#pragma once
// One client byte stream: a TCP socket, with a TLS session over it for wss. Used by one thread at
// a time (connectTo while connecting, then the client thread).
#include <memory>
#include <string>

#include "platform/net/Socket.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace easywsclient {

class WsTransport {
 public:
  explicit WsTransport(platform::net::SocketHandle socket) : m_socket(socket) {}
  ~WsTransport() { Close(); }
  WsTransport(const WsTransport&) = delete;
  WsTransport& operator=(const WsTransport&) = delete;

  // Client handshake on the (blocking) socket; the peer's certificate is not examined. Prints
  // OpenSSL's error queue to standard error on failure.
  bool StartTls();
  bool IsTls() const { return m_ssl != nullptr; }
  bool IsOpen() const { return m_socket != platform::net::kInvalidSocket; }
  platform::net::SocketHandle Socket() const { return m_socket; }
  // True when decrypted bytes wait inside the TLS session, where a readiness wait cannot see them.
  bool HasPending() const;

  platform::net::IoResult Recv(void* buffer, size_t size);
  platform::net::IoResult Send(const void* data, size_t size);
  // Frees the TLS session and closes the socket; harmless to repeat.
  void Close();

 private:
  platform::net::IoResult TlsResult(int rc);

  platform::net::SocketHandle m_socket;
  SSL_CTX* m_ctx = nullptr;
  SSL* m_ssl = nullptr;
};

}  // namespace easywsclient
