#pragma once
// A scripted WebSocket peer for the client tests: accepts one connection at a time on loopback
// (plain or TLS) and runs the test's script on it, on the server's own thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

class FakeWsPeer {
 public:
  FakeWsPeer(platform::net::SocketHandle socket, SSL* ssl) : m_socket(socket), m_ssl(ssl) {}

  // The request up to and including the empty line; empty when the client went away.
  std::string ReadRequest();
  void Accept();  // a 101 answer
  bool SendRaw(const std::string& bytes);
  // An unmasked server frame (masked with `key` when given).
  bool SendFrame(uint8_t opcode, const std::string& payload, bool fin = true, const uint8_t* key = nullptr);

  struct Frame {
    bool fin = false;
    uint8_t opcode = 0;
    bool masked = false;
    uint8_t key[4] = {};
    std::vector<uint8_t> header;  // as received, key included
    std::string payload;          // unmasked
  };
  // None on end of stream.
  std::optional<Frame> ReadFrame();
  // Reads until the client closes; true when it did.
  bool WaitForEnd();

 private:
  bool ReadExact(void* buffer, size_t size);
  int RecvSome(void* buffer, size_t size);

  platform::net::SocketHandle m_socket;
  SSL* m_ssl;
};

// Encodes an unmasked server frame header (and optional key) for payloads of any length.
std::string ServerFrameHeader(uint8_t opcode, uint64_t length, bool fin = true, const uint8_t* key = nullptr);

class FakeWsServer {
 public:
  using Script = std::function<void(FakeWsPeer&)>;
  FakeWsServer(Script script, bool tls = false, platform::net::Family family = platform::net::Family::kIPv4);
  ~FakeWsServer();

  int Port() const { return m_port; }
  std::string Url(const std::string& path = "") const;
  int Accepted() const { return m_accepted.load(); }
  // Waits until `count` connections have finished their script.
  bool WaitFinished(int count);

 private:
  void Run();

  Script m_script;
  bool m_tls;
  platform::net::Family m_family;
  SSL_CTX* m_ctx = nullptr;
  platform::net::SocketHandle m_listener = platform::net::kInvalidSocket;
  platform::net::PollWaker m_waker;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_accepted{0};
  std::mutex m_mutex;
  std::condition_variable m_cv;
  int m_finished = 0;
  std::thread m_thread;
};
