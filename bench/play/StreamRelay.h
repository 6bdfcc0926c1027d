#pragma once
// A loopback relay between the service's stream clients and nimbrel-source that passes every
// byte through unchanged and notes the moment each video frame has been handed to the service's
// socket: the frame's receipt, seen from outside the service. It reads the source as fast as it
// sends (buffering toward a slow service), so a service that falls behind shows a growing delay
// rather than frames the source skipped. The pane of a connection comes from the "channel" of the
// first text the service sends (channel n is pane n - 1). Pane 0's first `captureFrames` video
// payloads are kept, for the ffmpeg reference on the same stream.
//
// Threads: one relay thread does all socket work; Start, Stop and the getters on the caller's.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"

class StreamRelay {
 public:
  using OnVideo = std::function<void(int pane, std::chrono::steady_clock::time_point at)>;

  StreamRelay(int sourcePort, OnVideo onVideo, int captureFrames);
  ~StreamRelay();
  StreamRelay(const StreamRelay&) = delete;
  StreamRelay& operator=(const StreamRelay&) = delete;

  // Listens on a free port of 127.0.0.1 and starts the relay thread; false when it cannot listen.
  bool Start();
  void Stop();
  int Port() const { return m_port; }
  // The relay thread's id, for its CPU time (0 until it runs).
  int ThreadId() const { return m_tid.load(); }
  // Bytes read from the source and not yet taken by the service, over all connections.
  std::size_t Backlog() const { return m_backlog.load(); }
  // Pane 0's captured video payloads (Annex B), once `captureFrames` of them came.
  std::string Capture();

 private:
  struct Pair;
  void Run();
  void AcceptAll();
  // Reads what `from` has; false when the connection ended.
  bool Pump(Pair& pair, bool fromSource);
  // Writes what is pending toward `toSource`'s side; false when the connection ended.
  bool Flush(Pair& pair, bool toSource);
  void ParseFromSource(Pair& pair);
  void ParseFromService(Pair& pair);

  const int m_sourcePort;
  const OnVideo m_onVideo;
  const int m_captureFrames;
  platform::net::SocketHandle m_listener = platform::net::kInvalidSocket;
  int m_port = 0;
  std::unique_ptr<platform::net::PollWaker> m_waker;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_tid{0};
  std::atomic<std::size_t> m_backlog{0};
  std::vector<std::unique_ptr<Pair>> m_pairs;  // relay thread
  std::mutex m_captureMutex;
  std::string m_capture;  // m_captureMutex
  int m_captured = 0;     // relay thread
  std::thread m_thread;
};
