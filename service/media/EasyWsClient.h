#pragma once
// The stream source connection: a WebSocket client polled by its owner's thread.
// pumpIo and the dispatch calls belong to one thread (the client thread); the send calls,
// startClose, readyState and the discard flag may be used from any thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace easywsclient {

struct Callback_Imp {
  virtual ~Callback_Imp() = default;
  virtual void operator()(const std::string& message) = 0;
};
struct BytesCallback_Imp {
  virtual ~BytesCallback_Imp() = default;
  virtual void operator()(const std::vector<uint8_t>& message) = 0;
};

class WebSocket {
 public:
  typedef WebSocket* pointer;
  typedef enum readyStateValues { CLOSING = 0, CLOSED = 1, CONNECTING = 2, OPEN = 3 } readyStateValues;

  virtual ~WebSocket() = default;
  // Reads what has arrived and writes what is queued; waits up to `timeout` ms for readiness
  // (0: no wait, negative: no limit).
  virtual void pumpIo(int timeout) = 0;
  virtual void sendText(const std::string& message) = 0;
  virtual void sendBytes(const std::string& message) = 0;
  virtual void sendByteVector(const std::vector<uint8_t>& message) = 0;
  virtual void sendPingFrame() = 0;
  virtual void startClose() = 0;
  virtual readyStateValues readyState() const = 0;

  // Delivers each whole message, text and binary alike.
  template <class Callable>
  void dispatch(Callable callable) {
    struct Adapter : Callback_Imp {
      Callable& c;
      explicit Adapter(Callable& c) : c(c) {}
      void operator()(const std::string& message) override { c(message); }
    } adapter(callable);
    _dispatch(adapter);
  }
  template <class Callable>
  void dispatchBinary(Callable callable) {
    struct Adapter : BytesCallback_Imp {
      Callable& c;
      explicit Adapter(Callable& c) : c(c) {}
      void operator()(const std::vector<uint8_t>& message) override { c(message); }
    } adapter(callable);
    _dispatchBytes(adapter);
  }

 protected:
  virtual void _dispatch(Callback_Imp& callable) = 0;
  virtual void _dispatchBytes(BytesCallback_Imp& callable) = 0;
};

// An open connection to `url`, or none after printing why. The origin line is sent only when
// `origin` is not empty.
std::shared_ptr<WebSocket> connectTo(const std::string& url, const std::string& origin = std::string());

}  // namespace easywsclient
