#pragma once
#include <string>

// Placeholder for the play channel: the stream engine replaces this with the real class.
class PlayChannel {
 public:
  virtual ~PlayChannel() = default;
  int StopStream(const std::string& /*message*/) { return 0; }
  int StopDownload(const std::string& /*message*/) { return 0; }
  int StopTalk(const std::string& /*message*/) { return 0; }

  // What the server's notices and the dispatcher's lookups read of a channel.
  const std::string& ChannelKey() const { return m_strKey; }
  int CameraChannel() const { return m_nChannel; }
  int PaneIndex() const { return m_nPaneIndex; }

 protected:
  std::string m_strKey;
  int m_nChannel = -1;
  int m_nPaneIndex = -1;
};
