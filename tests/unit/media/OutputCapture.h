#pragma once
// Collects the stream client's texts for assertions and lets a test wait for one.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "service/media/WsOutput.h"

class OutputCapture {
 public:
  OutputCapture() {
    easywsclient::SetWsOutputSink([this](easywsclient::OutputStream, const std::string& text) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_texts.push_back(text);
      m_cv.notify_all();
    });
  }
  ~OutputCapture() { easywsclient::SetWsOutputSink(nullptr); }

  bool WaitFor(const std::string& text) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::seconds(30), [&] { return CountLocked(text) > 0; });
  }
  int Count(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return CountLocked(text);
  }
  // Texts that start with `prefix`.
  int CountPrefix(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(std::count_if(m_texts.begin(), m_texts.end(),
                                          [&](const std::string& t) { return t.rfind(prefix, 0) == 0; }));
  }

 private:
  int CountLocked(const std::string& text) {
    return static_cast<int>(std::count(m_texts.begin(), m_texts.end(), text));
  }
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<std::string> m_texts;
};
