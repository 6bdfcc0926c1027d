#pragma once
#include <string>

// Placeholder for the play channel: the stream engine replaces this with the real class.
class PlayChannel {
 public:
  virtual ~PlayChannel() = default;
  int StopStream(const std::string& /*message*/) { return 0; }
  int StopDownload(const std::string& /*message*/) { return 0; }
  int StopTalk(const std::string& /*message*/) { return 0; }
};
