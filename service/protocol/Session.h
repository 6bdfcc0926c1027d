#pragma once
// One page connection. Created and destroyed by the server thread (connection table, under
// m_sessionsMutex); its page state (window group, channels, web version) is changed only by the
// command thread while m_commandMutex is held.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/net/Socket.h"

typedef struct ssl_st SSL;
class CPlayWnd;
class PlayChannel;

class CSession {
 public:
  CSession();  // defined where the group and channel types are complete
  CSession(const CSession&) = delete;
  CSession& operator=(const CSession&) = delete;
  // Releases the window group, then the channels in ascending pane order, then download and talk.
  virtual ~CSession();

  // The group and the channel slots are what IEvent callers reach: they are replaced only while
  // m_sessionsMutex is held too, and what is taken out is destroyed after that lock is released
  // (its threads may be waiting for it).
  std::unique_ptr<CPlayWnd> m_pWnd;
  std::string m_strId;       // GUID text, set on the first frame
  bool m_bUpgraded = false;  // server thread only
  SSL* m_ssl = nullptr;      // null on plain connections; owned by the host
  std::unique_ptr<PlayChannel> m_pDownload;
  std::unique_ptr<PlayChannel> m_pTalk;
  std::map<int32_t, std::unique_ptr<PlayChannel>> m_channels;  // pane index -> channel
  std::string m_strWebVersion;

  // Connection side, kept by the host.
  platform::net::SocketHandle m_socket = platform::net::kInvalidSocket;
  std::uint64_t m_serial = 0;  // unique per accepted connection; never reused
  std::atomic<bool> m_closed{false};
};
