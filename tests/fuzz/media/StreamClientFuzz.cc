// A stream source that answers with arbitrary bytes: the client's handshake reading, then its
// receive loop and frame dispatch as the client thread runs them, each whole message handed to
// the parsing a play channel does first. A loopback source thread plays the input back to each
// connection, so the client code runs unchanged over a real socket.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/DebugLog.h"
#include "platform/net/Socket.h"
#include "service/media/MediaHeader.h"
#include "service/media/RealWebSocket.h"
#include "service/media/SourceText.h"
#include "service/media/WsOutput.h"

namespace net = platform::net;

namespace {

// Accepts one connection at a time and sends it the input set for it, then reads until the
// client closes so the client's own sends never block.
class ReplaySource {
 public:
  ReplaySource() {
    net::NetStartup();
    m_listener = net::CreateListenerSocket(net::Family::kIPv4);
    if (!net::BindLoopback(m_listener, net::Family::kIPv4, 0) || !net::Listen(m_listener, 4)) __builtin_trap();
    m_url = "ws://127.0.0.1:" + std::to_string(net::LocalPort(m_listener)) + "/stream";
    std::thread([this] { Serve(); }).detach();
  }
  const std::string& Url() const { return m_url; }
  void SetAnswer(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer.assign(data, data + size);
  }

 private:
  void Serve() {
    for (;;) {
      std::vector<net::PollEntry> entries(1);
      entries[0].socket = m_listener;
      net::Poll(entries, -1);
      net::SocketHandle s = net::Accept(m_listener);
      if (s == net::kInvalidSocket) continue;
      std::vector<uint8_t> answer;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        answer = m_answer;
      }
      if (!answer.empty()) net::SendAll(s, answer.data(), answer.size(), 5000);
      net::ShutdownWrite(s);
      uint8_t sink[4096];
      for (;;) {
        net::IoResult r = net::Recv(s, sink, sizeof sink);
        if (r.status != net::IoStatus::kOk) break;
      }
      net::CloseSocket(s);
    }
  }

  net::SocketHandle m_listener = net::kInvalidSocket;
  std::string m_url;
  std::mutex m_mutex;
  std::vector<uint8_t> m_answer;
};

void OnMessage(const std::vector<uint8_t>& message) {
  if (message.empty()) return;
  if (IsJsonText(message.data(), message.size())) {
    SourceCode(message.data(), message.size());
  } else {
    ParseMediaHeader(message.data(), message.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ReplaySource* source = [] {
    SetDebugLogSink([](const std::string&) {});
    easywsclient::SetWsOutputSink([](easywsclient::OutputStream, const std::string&) {});
    return new ReplaySource();
  }();
  source->SetAnswer(data, size);
  auto socket = easywsclient::connectReal(source->Url(), std::string());
  if (!socket) return 0;
  size_t delivered = 0;
  auto deliver = [&](const std::vector<uint8_t>& message) {
    delivered += message.size();
    OnMessage(message);
  };
  // The source has sent everything and ended its side, so the client reaches CLOSED.
  for (int pass = 0; socket->readyState() != easywsclient::WebSocket::CLOSED; ++pass) {
    if (pass > 10000) __builtin_trap();
    socket->pumpIo(10);
    socket->dispatchBinary(deliver);
  }
  socket->dispatchBinary(deliver);
  if (delivered > size) __builtin_trap();
  return 0;
}
