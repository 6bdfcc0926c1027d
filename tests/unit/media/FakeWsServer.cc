#include "FakeWsServer.h"

#include "platform/net/SocketNative.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <chrono>

namespace net = platform::net;

namespace {
// A throwaway self-signed certificate made in memory.
SSL_CTX* MakeServerContext() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                             0);
  X509_set_issuer_name(cert, name);
  X509_sign(cert, key, EVP_sha256());
  SSL_CTX_use_certificate(ctx, cert);
  SSL_CTX_use_PrivateKey(ctx, key);
  X509_free(cert);
  EVP_PKEY_free(key);
  return ctx;
}
}  // namespace

std::string ServerFrameHeader(uint8_t opcode, uint64_t length, bool fin, const uint8_t* key) {
  std::string h;
  h.push_back(static_cast<char>((fin ? 0x80 : 0) | opcode));
  uint8_t maskBit = key ? 0x80 : 0;
  if (length < 126) {
    h.push_back(static_cast<char>(maskBit | length));
  } else if (length < 65536) {
    h.push_back(static_cast<char>(maskBit | 126));
    h.push_back(static_cast<char>(length >> 8));
    h.push_back(static_cast<char>(length));
  } else {
    h.push_back(static_cast<char>(maskBit | 127));
    for (int i = 7; i >= 0; --i) h.push_back(static_cast<char>(length >> (8 * i)));
  }
  if (key) h.append(reinterpret_cast<const char*>(key), 4);
  return h;
}

int FakeWsPeer::RecvSome(void* buffer, size_t size) {
  if (m_ssl) return SSL_read(m_ssl, buffer, static_cast<int>(size));
  net::IoResult r = net::Recv(m_socket, buffer, size);
  if (r.status == net::IoStatus::kClosed) return 0;
  return r.status == net::IoStatus::kOk ? static_cast<int>(r.bytes) : -1;
}

bool FakeWsPeer::ReadExact(void* buffer, size_t size) {
  auto* p = static_cast<char*>(buffer);
  while (size > 0) {
    int n = RecvSome(p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string FakeWsPeer::ReadRequest() {
  std::string text;
  char c;
  while (text.size() < 4 || text.compare(text.size() - 4, 4, "\r\n\r\n") != 0) {
    if (!ReadExact(&c, 1)) return std::string();
    text.push_back(c);
  }
  return text;
}

bool FakeWsPeer::SendRaw(const std::string& bytes) {
  if (m_ssl) return bytes.empty() || SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size())) > 0;
  return net::SendAll(m_socket, bytes.data(), bytes.size(), 10000);
}

void FakeWsPeer::Accept() {
  SendRaw("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Accept: ignored\r\n\r\n");
}

bool FakeWsPeer::SendFrame(uint8_t opcode, const std::string& payload, bool fin, const uint8_t* key) {
  std::string body = payload;
  if (key) {
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(body[i] ^ key[i & 3]);
  }
  return SendRaw(ServerFrameHeader(opcode, payload.size(), fin, key) + body);
}

std::optional<FakeWsPeer::Frame> FakeWsPeer::ReadFrame() {
  Frame f;
  uint8_t h[2];
  if (!ReadExact(h, 2)) return std::nullopt;
  f.header.assign(h, h + 2);
  f.fin = (h[0] & 0x80) != 0;
  f.opcode = h[0] & 0x0F;
  f.masked = (h[1] & 0x80) != 0;
  uint64_t length = h[1] & 0x7F;
  size_t extra = length == 126 ? 2 : length == 127 ? 8 : 0;
  uint8_t ext[8];
  if (extra && !ReadExact(ext, extra)) return std::nullopt;
  f.header.insert(f.header.end(), ext, ext + extra);
  if (extra) {
    length = 0;
    for (size_t i = 0; i < extra; ++i) length = (length << 8) | ext[i];
  }
  if (f.masked) {
    if (!ReadExact(f.key, 4)) return std::nullopt;
    f.header.insert(f.header.end(), f.key, f.key + 4);
  }
  f.payload.resize(length);
  if (length && !ReadExact(f.payload.data(), length)) return std::nullopt;
  if (f.masked) {
    for (size_t i = 0; i < f.payload.size(); ++i) f.payload[i] = static_cast<char>(f.payload[i] ^ f.key[i & 3]);
  }
  return f;
}

bool FakeWsPeer::WaitForEnd() {
  char buf[4096];
  for (;;) {
    int n = RecvSome(buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      // A TLS peer that drops the connection, or our receive time-out.
      return m_ssl != nullptr;
    }
  }
}

FakeWsServer::FakeWsServer(Script script, bool tls, net::Family family)
    : m_script(std::move(script)), m_tls(tls), m_family(family) {
  net::NetStartup();
  if (m_tls) m_ctx = MakeServerContext();
  m_listener = net::CreateTcpSocket(family);
  net::BindLoopback(m_listener, family, 0);
  net::Listen(m_listener, 8);
  m_port = net::LocalPort(m_listener);
  m_thread = std::thread(&FakeWsServer::Run, this);
}

FakeWsServer::~FakeWsServer() {
  m_stop.store(true);
  m_waker.Wake();
  m_thread.join();
  net::CloseSocket(m_listener);
  if (m_ctx) SSL_CTX_free(m_ctx);
}

std::string FakeWsServer::Url(const std::string& path) const {
  std::string host = m_family == net::Family::kIPv6 ? "[::1]" : "127.0.0.1";
  return std::string(m_tls ? "wss://" : "ws://") + host + ":" + std::to_string(m_port) + "/" + path;
}

bool FakeWsServer::WaitFinished(int count) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_cv.wait_for(lock, std::chrono::seconds(30), [&] { return m_finished >= count; });
}

void FakeWsServer::Run() {
  while (!m_stop.load()) {
    std::vector<net::PollEntry> entries(2);
    entries[0].socket = m_listener;
    entries[1].socket = m_waker.Handle();
    if (net::Poll(entries, -1) <= 0 || entries[1].readable) continue;
    net::SocketHandle s = net::Accept(m_listener);
    if (s == net::kInvalidSocket) continue;
    m_accepted.fetch_add(1);
    // Bounds every read so a script never outlives a client that stopped talking.
    net::SetReceiveTimeout(s, 10000);
    SSL* ssl = nullptr;
    bool ok = true;
    if (m_ctx) {
      ssl = SSL_new(m_ctx);
      SSL_set_fd(ssl, net::NativeDescriptor(s));
      ok = SSL_accept(ssl) == 1;
    }
    if (ok) {
      FakeWsPeer peer(s, ssl);
      m_script(peer);
    }
    if (ssl) SSL_free(ssl);
    net::CloseSocket(s);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_finished;
    }
    m_cv.notify_all();
  }
}
