#pragma once
// The WebSocket client implementation over a WsTransport. Threads: pumpIo and dispatch on the
// client thread; sends, startClose and the discard flag from any thread. m_sendMutex guards the
// send buffer; the receive side is the client thread's alone.
#include <atomic>
#include <memory>
#include <mutex>

#include "service/media/EasyWsClient.h"
#include "service/media/WsFraming.h"
#include "service/media/WsTransport.h"

namespace easywsclient {

// Bytes read per receive call: a burst of media frames in one call rather than one call per frame.
constexpr size_t kReadChunk = 64 * 1024;
// Queued outgoing bytes beyond which further messages are dropped (a peer that stopped reading).
constexpr size_t kMaxSendBuffer = 8u << 20;

class _RealWebSocket : public WebSocket {
 public:
  // Takes an open, handshaken transport.
  explicit _RealWebSocket(std::unique_ptr<WsTransport> transport);
  ~_RealWebSocket() override;

  void pumpIo(int timeout) override;
  // pumpIo whose wait also ends as soon as `waker` (a PollWaker's handle) becomes readable; true
  // when the waker was seen readable (the caller drains it then, and only then).
  bool pumpIoUntil(int timeout, platform::net::SocketHandle waker);
  void sendText(const std::string& message) override;
  void sendBytes(const std::string& message) override;
  void sendByteVector(const std::vector<uint8_t>& message) override;
  void sendPingFrame() override;
  void startClose() override;
  readyStateValues readyState() const override { return m_readyState.load(); }

  // While set, dispatching empties the receive buffer and delivers nothing.
  void setDiscard(bool on) { m_discard.store(on); }
  // Closes at once without a close frame (a peer that never takes one).
  void forceClose();

 protected:
  void _dispatch(Callback_Imp& callable) override;
  void _dispatchBytes(BytesCallback_Imp& callable) override;

 private:
  void sendData(uint8_t opcode, const uint8_t* data, size_t size);
  // Client thread; m_sendMutex held by the caller when writing.
  void closeTransport();
  template <class Deliver>
  void dispatchFrames(Deliver&& deliver);

  std::unique_ptr<WsTransport> m_transport;  // client thread (send path under m_sendMutex)
  WsFrameDecoder m_decoder;                  // client thread
  std::vector<uint8_t> m_chunk;              // client thread: the receive call's buffer
  std::vector<platform::net::PollEntry> m_pollEntries;  // client thread
  std::vector<uint8_t> m_txbuf;              // m_sendMutex
  std::mutex m_sendMutex;
  std::atomic<readyStateValues> m_readyState{OPEN};
  std::atomic<bool> m_discard{false};
};

class ConnectAbort;

// connectTo with the concrete type, for owners that need the discard flag. `abort`, when given,
// can end the attempt from another thread.
std::shared_ptr<_RealWebSocket> connectReal(const std::string& url, const std::string& origin,
                                            ConnectAbort* abort = nullptr);

}  // namespace easywsclient
