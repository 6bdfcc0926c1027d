#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include "common/DebugLog.h"
#include "common/IniFile.h"
#include "platform/system/MessageBox.h"
#include "service/host/WsServer.h"

using platform::net::Family;
using platform::net::kInvalidSocket;
using platform::net::SocketHandle;

namespace {

constexpr int kPortsToProbe = 10;
constexpr int kBacklog = 300;
constexpr char kConfigPath[] = "./config.ini";
constexpr char kCertificateFile[] = "./certificates/server-cert.pem";
constexpr char kKeyFile[] = "./certificates/server-key.pem";

int ServicePortStart() { return AtoiText(GetProfileString("Port", "ServicePortStart", "", 50, kConfigPath)); }

// The IPv6 twin on exactly `port`; a twin that cannot be had is closed and left absent.
SocketHandle OpenIPv6Twin(WsServer& server, int port, const char* createFailedText) {
  SocketHandle s = platform::net::CreateListenerSocket(Family::kIPv6);
  if (s == kInvalidSocket) {
    DebugLog("%s", createFailedText);
    return kInvalidSocket;
  }
  if (server.BindLoopback(s, port, true) == -1 || !platform::net::Listen(s, kBacklog) ||
      !platform::net::SetNonBlocking(s, true)) {
    platform::net::CloseSocket(s);
    return kInvalidSocket;
  }
  return s;
}

}  // namespace

int WsServer::BindLoopback(SocketHandle socket, int start, bool ipv6) {
  if (ipv6) {
    if (platform::net::BindLoopback(socket, Family::kIPv6, start)) return start;
    DebugLog("Bind m_sock_ipv6 failed.");
    return -1;
  }
  for (int i = 0; i < kPortsToProbe; ++i) {
    if (platform::net::BindLoopback(socket, Family::kIPv4, start + i)) {
      // With start 0 the system chose; the twin needs the port actually held.
      return start == 0 ? platform::net::LocalPort(socket) : start + i;
    }
    std::error_code error(platform::net::LastErrorCode(), std::generic_category());
    if (error != std::errc::address_in_use || i == kPortsToProbe - 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  platform::system::ShowWarningBox("Tips", "Bind failed, maybe all 10 ports are occupied.");
  std::printf("Bind failed with error:%d\n", -1);
  std::fflush(stdout);
  return -1;
}

int WsServer::OpenListenerPair(SocketHandle& ipv4, SocketHandle& ipv6, const char* name, const char* ipv6Name) {
  ipv4 = platform::net::CreateListenerSocket(Family::kIPv4);
  if (ipv4 == kInvalidSocket) {
    DebugLog("Create %s failed.", name);
    return -1;
  }
  int port = BindLoopback(ipv4, ServicePortStart(), false);
  if (port == -1) {
    DebugLog("%s socket bind failed.", name);
    return -1;
  }
  if (!platform::net::Listen(ipv4, kBacklog) || !platform::net::SetNonBlocking(ipv4, true)) {
    DebugLog("%s socket listen failed.", name);
    return -1;
  }
  ipv6 = OpenIPv6Twin(*this, port, (std::string(ipv6Name) + " Create failed.").c_str());
  return 0;
}

int WsServer::InitServer() {
  if (OpenListenerPair(m_sock, m_sock_ipv6, "m_sock", "IPV6 socket") == -1) return -1;
  DebugLog("Server initialization is complete!");
  return 0;
}

int WsServer::InitSSLServer() {
  // Whatever this thread's error queue holds must not be read as the failure of a later call.
  ERR_clear_error();
  int result = SetUpTlsContext();
  ERR_clear_error();
  if (result == -1) return -1;
  if (OpenListenerPair(m_sock_ssl, m_sock_ssl_ipv6, "m_sock_ssl", "IPV6 ssl socket") == -1) return -1;
  DebugLog("SSL security server initialization is complete!");
  return 0;
}

int WsServer::SetUpTlsContext() {
  m_sslCtx = SSL_CTX_new(TLS_server_method());
  if (!m_sslCtx) {
    DebugLog("Couldn't create the SSL method.");
    return -1;
  }
  // Writes resume after a full socket with whatever part is left.
  SSL_CTX_set_mode(m_sslCtx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_use_certificate_file(m_sslCtx, kCertificateFile, SSL_FILETYPE_PEM) <= 0) {
    DebugLog("Failure reading SSL certificate file.");
    return -1;
  }
  if (SSL_CTX_use_PrivateKey_file(m_sslCtx, kKeyFile, SSL_FILETYPE_PEM) <= 0) {
    DebugLog("Failure reading private key file.");
    return -1;
  }
  if (SSL_CTX_check_private_key(m_sslCtx) == 0) {
    DebugLog("Private key does not match the certificate public key.");
    return -1;
  }
  return 0;
}
