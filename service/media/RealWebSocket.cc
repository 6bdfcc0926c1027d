#include "service/media/RealWebSocket.h"

#include <chrono>
#include <exception>
#include <thread>

#include "common/DebugLog.h"
#include "service/media/WsOutput.h"

namespace easywsclient {

using platform::net::IoResult;
using platform::net::IoStatus;

_RealWebSocket::_RealWebSocket(std::unique_ptr<WsTransport> transport) : m_transport(std::move(transport)) {}

_RealWebSocket::~_RealWebSocket() { m_transport->Close(); }

void _RealWebSocket::closeTransport() {
  m_transport->Close();
  m_readyState.store(CLOSED);
}

void _RealWebSocket::forceClose() {
  std::lock_guard<std::mutex> lock(m_sendMutex);
  closeTransport();
}

void _RealWebSocket::pumpIo(int timeout) { pumpIoUntil(timeout, platform::net::kInvalidSocket); }

bool _RealWebSocket::pumpIoUntil(int timeout, platform::net::SocketHandle waker) {
  bool woken = false;
  try {
    if (m_readyState.load() == CLOSED) {
      if (timeout > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
      return false;
    }
    if (timeout != 0 && !m_transport->HasPending()) {
      std::vector<platform::net::PollEntry>& entries = m_pollEntries;
      entries.assign(waker == platform::net::kInvalidSocket ? 1 : 2, platform::net::PollEntry{});
      entries[0].socket = m_transport->Socket();
      {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        entries[0].wantWrite = !m_txbuf.empty();
      }
      if (entries.size() == 2) entries[1].socket = waker;
      platform::net::Poll(entries, timeout);
      woken = entries.size() == 2 && entries[1].readable;
    }
    // Stop reading while a whole maximal message is buffered, so a flooding peer cannot grow us.
    m_chunk.resize(kReadChunk);
    uint8_t* chunk = m_chunk.data();
    while (m_decoder.Buffered() < kMaxMessageBytes + 16) {
      IoResult r = m_transport->Recv(chunk, kReadChunk);
      if (r.status == IoStatus::kWouldBlock) break;
      if (r.status != IoStatus::kOk) {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        closeTransport();
        WsPrint(OutputStream::kError, r.status == IoStatus::kClosed ? "Connection closed!\n" : "Connection error!\n");
        return woken;
      }
      m_decoder.Feed(chunk, r.bytes);
      // A short read emptied the socket: the next wait tells when more comes, without a read
      // that only answers "would block".
      if (r.bytes < kReadChunk && !m_transport->HasPending()) break;
    }
    std::lock_guard<std::mutex> lock(m_sendMutex);
    while (!m_txbuf.empty()) {
      IoResult r = m_transport->Send(m_txbuf.data(), m_txbuf.size());
      if (r.status == IoStatus::kWouldBlock) break;
      if (r.status != IoStatus::kOk) {
        closeTransport();
        WsPrint(OutputStream::kError, r.status == IoStatus::kClosed ? "Connection closed!\n" : "Connection error!\n");
        return woken;
      }
      m_txbuf.erase(m_txbuf.begin(), m_txbuf.begin() + static_cast<std::ptrdiff_t>(r.bytes));
    }
    if (m_txbuf.empty() && m_readyState.load() == CLOSING) closeTransport();
  } catch (...) {
    DebugLog("try catch error!");
  }
  return woken;
}

void _RealWebSocket::sendData(uint8_t opcode, const uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> lock(m_sendMutex);
  readyStateValues state = m_readyState.load();
  if (state == CLOSING || state == CLOSED) return;
  if (m_txbuf.size() + size > kMaxSendBuffer) {
    WsPrint(OutputStream::kError, "ERROR: send buffer full, message dropped.\n");
    return;
  }
  AppendClientFrame(m_txbuf, opcode, data, size);
}

void _RealWebSocket::sendText(const std::string& message) {
  sendData(kOpText, reinterpret_cast<const uint8_t*>(message.data()), message.size());
}

void _RealWebSocket::sendBytes(const std::string& message) {
  sendData(kOpBinary, reinterpret_cast<const uint8_t*>(message.data()), message.size());
}

void _RealWebSocket::sendByteVector(const std::vector<uint8_t>& message) {
  sendData(kOpBinary, message.data(), message.size());
}

void _RealWebSocket::sendPingFrame() { sendData(kOpPing, nullptr, 0); }

void _RealWebSocket::startClose() {
  std::lock_guard<std::mutex> lock(m_sendMutex);
  readyStateValues state = m_readyState.load();
  if (state == CLOSING || state == CLOSED) return;
  m_readyState.store(CLOSING);
  m_txbuf.insert(m_txbuf.end(), kCloseFrame, kCloseFrame + sizeof kCloseFrame);
}

template <class Deliver>
void _RealWebSocket::dispatchFrames(Deliver&& deliver) {
  try {
    for (;;) {
      if (m_discard.load()) {
        m_decoder.Reset();
        return;
      }
      WsEvent ev = m_decoder.Next();
      switch (ev.kind) {
        case WsEvent::kNone:
          return;
        case WsEvent::kMessage:
          deliver(ev.payload);
          m_decoder.Recycle(std::move(ev.payload));
          break;
        case WsEvent::kPing:
          sendData(kOpPong, ev.payload.data(), ev.payload.size());
          break;
        case WsEvent::kPong:
          break;
        case WsEvent::kClose:
          startClose();
          break;
        case WsEvent::kUnexpected:
          WsPrint(OutputStream::kError, "ERROR: Got unexpected WebSocket message.\n");
          startClose();
          break;
        case WsEvent::kTooLarge:
          // The rest of the stream cannot be framed; close without reading further.
          WsPrint(OutputStream::kError, "ERROR: WebSocket frame too large.\n");
          forceClose();
          return;
      }
    }
  } catch (...) {
    DebugLog("try catch error!");
  }
}

void _RealWebSocket::_dispatch(Callback_Imp& callable) {
  dispatchFrames([&](const std::vector<uint8_t>& payload) {
    callable(std::string(payload.begin(), payload.end()));
  });
}

void _RealWebSocket::_dispatchBytes(BytesCallback_Imp& callable) {
  dispatchFrames([&](const std::vector<uint8_t>& payload) { callable(payload); });
}

}  // namespace easywsclient
