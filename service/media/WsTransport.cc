#include "service/media/WsTransport.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdio>

#include "platform/net/SocketNative.h"

namespace easywsclient {

using platform::net::IoResult;
using platform::net::IoStatus;

// OpenSSL's error queue is per thread; an entry left behind by one call would make SSL_get_error
// report a later would-block as a failure. It is emptied before every call and after failures.

bool WsTransport::StartTls() {
  ERR_clear_error();
  m_ctx = SSL_CTX_new(TLS_client_method());
  if (m_ctx) {
    // The send buffer moves as it is consumed; partial writes keep the non-blocking pump simple.
    SSL_CTX_set_mode(m_ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(m_ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_options(m_ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    m_ssl = SSL_new(m_ctx);
  }
  if (!m_ssl || SSL_set_fd(m_ssl, platform::net::NativeDescriptor(m_socket)) != 1 || SSL_connect(m_ssl) != 1) {
    ERR_print_errors_fp(stderr);
    ERR_clear_error();
    if (m_ssl) SSL_free(m_ssl);
    if (m_ctx) SSL_CTX_free(m_ctx);
    m_ssl = nullptr;
    m_ctx = nullptr;
    return false;
  }
  return true;
}

bool WsTransport::HasPending() const {
  if (!m_ssl) return false;
  ERR_clear_error();
  return SSL_pending(m_ssl) > 0;
}

IoResult WsTransport::TlsResult(int rc) {
  if (rc > 0) return {IoStatus::kOk, static_cast<size_t>(rc)};
  int error = SSL_get_error(m_ssl, rc);
  ERR_clear_error();
  switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      return {IoStatus::kWouldBlock, 0};
    case SSL_ERROR_ZERO_RETURN:
      return {IoStatus::kClosed, 0};
    case SSL_ERROR_SYSCALL:
      // A peer that drops the TCP connection without a TLS close.
      return {rc == 0 ? IoStatus::kClosed : IoStatus::kError, 0};
    default:
      return {IoStatus::kError, 0};
  }
}

IoResult WsTransport::Recv(void* buffer, size_t size) {
  if (!IsOpen()) return {IoStatus::kError, 0};
  if (!m_ssl) return platform::net::Recv(m_socket, buffer, size);
  ERR_clear_error();
  return TlsResult(SSL_read(m_ssl, buffer, static_cast<int>(size)));
}

IoResult WsTransport::Send(const void* data, size_t size) {
  if (!IsOpen()) return {IoStatus::kError, 0};
  if (!m_ssl) return platform::net::Send(m_socket, data, size);
  if (size == 0) return {IoStatus::kOk, 0};
  ERR_clear_error();
  return TlsResult(SSL_write(m_ssl, data, static_cast<int>(size > (1u << 30) ? (1u << 30) : size)));
}

void WsTransport::Close() {
  if (m_ssl) {
    ERR_clear_error();
    SSL_free(m_ssl);
    m_ssl = nullptr;
  }
  if (m_ctx) {
    SSL_CTX_free(m_ctx);
    m_ctx = nullptr;
  }
  if (m_socket != platform::net::kInvalidSocket) {
    platform::net::CloseSocket(m_socket);
    m_socket = platform::net::kInvalidSocket;
  }
}

}  // namespace easywsclient
