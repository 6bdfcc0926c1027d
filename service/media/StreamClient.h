#pragma once
// One stream source connection and the client thread that runs it, reconnecting up to its
// attempt limit. The client thread waits on its socket, dispatches and calls the callback (under
// m_dispatchMutex); other threads only send and stop. m_socketMutex guards the m_socket pointer.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"
#include "service/media/ConnectAbort.h"
#include "service/media/RealWebSocket.h"

// Called on the client thread: once with no bytes right after each connection, then once per
// whole message (text and binary alike).
using StreamCallback = void (*)(const std::vector<uint8_t>& message, void* user);

class StreamClient {
 public:
  static constexpr int kAttemptLimit = 5;
  static constexpr std::chrono::milliseconds kReconnectDelay{1000};
  // Upper bound of one wait for socket data without a waker (and while closing); with one, data,
  // stops and sends end the wait at once and the bound is only a safety net. A 10 ms bound woke
  // every idle client three times between two frames of a 25 fps stream.
  static constexpr std::chrono::milliseconds kPollInterval{10};
  static constexpr std::chrono::milliseconds kWakerPollInterval{500};

  // Starts the client thread at once. Tests shorten the reconnect delay.
  StreamClient(const std::string& url, StreamCallback callback, void* user,
               std::chrono::milliseconds reconnectDelay = kReconnectDelay);
  // Stops and joins the client thread; never from inside the callback.
  ~StreamClient();
  StreamClient(const StreamClient&) = delete;
  StreamClient& operator=(const StreamClient&) = delete;

  // From the client thread (inside the callback) only flags the stop; from any other thread it
  // also waits for a running delivery and prevents any later one.
  void Stop();
  // Any thread; false when there is no open connection.
  bool SendText(const std::string& text);
  bool SendBinary(const std::vector<uint8_t>& bytes);
  // The client thread has ended (stopped, or out of attempts).
  bool Ended() const { return m_ended.load(); }
  // Waits up to `timeout` for the client thread to end; true when it has.
  bool WaitEnded(std::chrono::milliseconds timeout);
  const std::string& Url() const { return m_url; }

 private:
  void Run();
  // One connection from open to closed; returns when it closed.
  void Serve(const std::shared_ptr<easywsclient::_RealWebSocket>& socket);
  // Waits `delay` unless a stop comes first; true when stopped.
  bool WaitOrStop(std::chrono::milliseconds delay);
  std::shared_ptr<easywsclient::_RealWebSocket> CurrentSocket();

  const std::string m_url;
  const StreamCallback m_callback;
  void* const m_user;
  const std::chrono::milliseconds m_reconnectDelay;

  std::mutex m_socketMutex;
  std::shared_ptr<easywsclient::_RealWebSocket> m_socket;  // m_socketMutex
  std::mutex m_dispatchMutex;
  std::mutex m_waitMutex;
  std::condition_variable m_waitCv;  // wakes the client thread's waits on stop, and WaitEnded
  platform::net::PollWaker m_waker;  // ends the client thread's socket wait on stop or send
  easywsclient::ConnectAbort m_abort;  // ends a connection attempt on stop
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_ended{false};
  std::thread m_thread;
};
