#pragma once
// One page connection. Created and destroyed by the server thread (connection table, under
// m_sessionsMutex); its page state (window group, channels, web version) is changed only by the
// command thread while m_commandMutex is held.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/net/Socket.h"

typedef struct ssl_st SSL;
class CPlayWnd;
class PlayChannel;

class CSession {
 public:
  CSession() = default;
  CSession(const CSession&) = delete;
  CSession& operator=(const CSession&) = delete;
  // Releases the window group, then the channels in ascending pane order, then download and talk.
  virtual ~CSession();

  CPlayWnd* m_pWnd = nullptr;  // owned
  std::string m_strId;         // GUID text, set on the first frame
  bool m_bUpgraded = false;    // server thread only
  SSL* m_ssl = nullptr;        // null on plain connections; owned by the host
  PlayChannel* m_pDownload = nullptr;           // owned
  PlayChannel* m_pTalk = nullptr;               // owned
  std::map<int32_t, PlayChannel*> m_channels;  // pane index -> channel, owned
  std::string m_strWebVersion;

  // Connection side, kept by the host.
  platform::net::SocketHandle m_socket = platform::net::kInvalidSocket;
  std::uint64_t m_serial = 0;  // unique per accepted connection; never reused
  std::mutex m_writeMutex;     // every frame written to this connection
  std::atomic<bool> m_closed{false};
};
