#pragma once
// Runs nimbrel-source for a test or benchmark: started through the shell, ports read from its
// first output line, its JSON event lines kept, ended with SIGTERM.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SourceProcess {
 public:
  // `binary` is the path of nimbrel-source; `tlsDir` a folder for throwaway certificates (empty:
  // plain only); `sourceDir` the project folder (for scripts/make-certs.sh); `port` 0 for a free one.
  bool Start(const std::string& binary, const std::string& sourceDir, const std::string& tlsDir, int port = 0) {
    std::string args = "--port " + std::to_string(port);
    if (!tlsDir.empty()) {
      std::string make = "bash '" + sourceDir + "/scripts/make-certs.sh' '" + tlsDir + "' >/dev/null";
      if (std::system(make.c_str()) != 0) return false;
      args += " --tls-port 0 --cert '" + tlsDir + "/certificates/server-cert.pem' --key '" + tlsDir +
              "/certificates/server-key.pem'";
    }
    // The shell prints its process id and becomes the source, so the id is the source's.
    std::string command = "echo pid:$$; exec '" + binary + "' " + args + " 2>/dev/null";
    m_pipe = ::popen(command.c_str(), "r");
    if (!m_pipe) return false;
    std::string line;
    if (!ReadLine(line) || std::sscanf(line.c_str(), "pid:%d", &m_pid) != 1) return false;
    if (!ReadLine(line) || line.find("\"listening\"") == std::string::npos) return false;
    m_port = Field(line, "\"port\":");
    m_tlsPort = Field(line, "\"tlsPort\":");
    m_reader = std::thread([this] {
      std::string l;
      while (ReadLine(l)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(l);
        m_cv.notify_all();
      }
    });
    return m_port > 0;
  }

  ~SourceProcess() {
    if (m_pid > 0) std::system(("kill " + std::to_string(m_pid)).c_str());
    if (m_reader.joinable()) m_reader.join();
    if (m_pipe) ::pclose(m_pipe);
  }

  int Port() const { return m_port; }
  int TlsPort() const { return m_tlsPort; }

  // Waits for `count` event lines that contain every one of `parts`.
  bool WaitEvent(const std::vector<std::string>& parts, size_t count = 1) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::seconds(60), [&] { return CountLocked(parts) >= count; });
  }
  size_t CountEvents(const std::vector<std::string>& parts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return CountLocked(parts);
  }
  // The first event line that contains every one of `parts`, or "".
  std::string FindEvent(const std::vector<std::string>& parts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& e : m_events)
      if (Matches(e, parts)) return e;
    return std::string();
  }

 private:
  static bool Matches(const std::string& event, const std::vector<std::string>& parts) {
    for (const auto& p : parts)
      if (event.find(p) == std::string::npos) return false;
    return true;
  }
  size_t CountLocked(const std::vector<std::string>& parts) {
    size_t n = 0;
    for (const auto& e : m_events) n += Matches(e, parts) ? 1 : 0;
    return n;
  }
  bool ReadLine(std::string& line) {
    line.clear();
    char buf[4096];
    while (std::fgets(buf, sizeof buf, m_pipe)) {
      line += buf;
      if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        return true;
      }
    }
    return !line.empty();
  }
  static int Field(const std::string& line, const std::string& key) {
    size_t at = line.find(key);
    return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + key.size());
  }

  FILE* m_pipe = nullptr;
  int m_pid = 0;
  int m_port = 0;
  int m_tlsPort = 0;
  std::thread m_reader;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<std::string> m_events;
};
