#include "EchoServer.h"

#include <string>

#include "service/host/FrameReader.h"
#include "service/host/HttpRequest.h"
#include "service/host/HttpAnswer.h"
#include "service/host/WsFrame.h"

using namespace platform::net;

EchoServer::EchoServer() {
  m_listener = CreateTcpSocket(Family::kIPv4);
  BindLoopback(m_listener, Family::kIPv4, 0);
  Listen(m_listener, 64);
  m_port = LocalPort(m_listener);
  m_acceptor = std::thread([this] { AcceptLoop(); });
}

EchoServer::~EchoServer() {
  m_stop = true;
  // A connection of our own wakes the acceptor.
  std::string error;
  auto address = Resolve("127.0.0.1", m_port, &error);
  if (!address.empty()) CloseSocket(ConnectTo(address[0], 1000));
  m_acceptor.join();
  CloseSocket(m_listener);
  for (std::thread& t : m_workers) t.join();
}

void EchoServer::AcceptLoop() {
  for (;;) {
    std::vector<PollEntry> entry(1);
    entry[0].socket = m_listener;
    Poll(entry, -1);
    SocketHandle s = Accept(m_listener);
    if (m_stop) {
      CloseSocket(s);
      return;
    }
    if (s != kInvalidSocket) m_workers.emplace_back([s] { Serve(s); });
  }
}

void EchoServer::Serve(SocketHandle s) {
  SetNonBlocking(s, false);
  SetNoDelay(s, true);
  std::string request;
  char buffer[65536];
  for (;;) {
    IoResult r = Recv(s, buffer, sizeof buffer);
    if (r.status != IoStatus::kOk) {
      CloseSocket(s);
      return;
    }
    request.append(buffer, r.bytes);
    if (CompleteRequestLength(request) != 0) break;
  }
  std::string key;
  GetWebSocketKey(request, key);
  std::string answer = BuildUpgradeAnswer(key);
  SendAll(s, answer.data(), answer.size(), 5000);
  FrameReader frames;
  std::vector<std::string> texts;
  for (;;) {
    IoResult r = Recv(s, buffer, sizeof buffer);
    if (r.status != IoStatus::kOk || !frames.Feed(reinterpret_cast<std::uint8_t*>(buffer), r.bytes, texts)) break;
    for (const std::string& text : texts) {
      std::string frame = BuildTextFrame(text);
      SendAll(s, frame.data(), frame.size(), 5000);
    }
    texts.clear();
  }
  CloseSocket(s);
}
