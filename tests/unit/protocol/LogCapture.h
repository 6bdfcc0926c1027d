#pragma once
#include <string>
#include <vector>

#include "common/DebugLog.h"

// Collects debug lines for the life of the object.
class LogCapture {
 public:
  LogCapture() {
    SetDebugLogSink([this](const std::string& line) { m_lines.push_back(line); });
  }
  ~LogCapture() { SetDebugLogSink(nullptr); }
  const std::vector<std::string>& Lines() const { return m_lines; }
  void Clear() { m_lines.clear(); }

 private:
  std::vector<std::string> m_lines;
};
