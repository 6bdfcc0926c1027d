#include "ServiceProcess.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/net/Socket.h"

namespace fs = std::filesystem;
using platform::net::Family;

namespace {

bool PortFree(int port) {
  for (Family family : {Family::kIPv4, Family::kIPv6}) {
    platform::net::SocketHandle s = platform::net::CreateTcpSocket(family);
    bool ok = s != platform::net::kInvalidSocket && platform::net::BindLoopback(s, family, port);
    platform::net::CloseSocket(s);
    if (!ok) return false;
  }
  return true;
}

}  // namespace

int FreePortRange(int count) {
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 200; ++attempt) {
    int port = 20000 + static_cast<int>(random() % 30000);
    bool free = true;
    for (int p = port; p < port + count && free; ++p) free = PortFree(p);
    if (free) return port;
  }
  return 0;
}

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

ServiceProcess::ServiceProcess(int portStart) {
  std::random_device rd;
  m_dir = (fs::temp_directory_path() / ("nimbrel_host_" + std::to_string(rd()))).string();
  fs::create_directories(m_dir);
  fs::copy_file(fs::path(NIMBREL_RUN_DIR) / "nimbrelsvc", fs::path(m_dir) / "nimbrelsvc");
  fs::copy(fs::path(NIMBREL_RUN_DIR) / "certificates", fs::path(m_dir) / "certificates",
           fs::copy_options::recursive);
  // Stand-ins for the desktop programs the service starts: they record what they were asked.
  fs::create_directories(fs::path(m_dir) / "bin");
  for (const char* program : {"xdg-open", "zenity"}) {
    fs::path stub = fs::path(m_dir) / "bin" / program;
    std::ofstream(stub) << "#!/bin/sh\necho \"$@\" >> '" << m_dir << "/" << program << ".log'\n";
    fs::permissions(stub, fs::perms::owner_all);
  }
  m_port = portStart >= 0 ? portStart : FreePortRange(2);
  WriteConfig(std::to_string(m_port));
}

void ServiceProcess::WriteConfig(const std::string& portText) {
  std::ofstream(fs::path(m_dir) / "config.ini") << "[Port]\nServicePortStart=" << portText
                                                  << "\n\n[Info]\nVersion=9.8.7\n";
}

ServiceProcess::~ServiceProcess() {
  if (m_pipe) {
    Signal("TERM");
    m_reader.join();
    pclose(m_pipe);
  }
  std::error_code ec;
  fs::remove_all(m_dir, ec);
}

bool ServiceProcess::Start(const std::string& shellSetup) {
  std::string command = "cd '" + m_dir + "' && export PATH=\"$PWD/bin:$PATH\" DISPLAY=:97 "
                        "XDG_DATA_HOME=\"$PWD/appdata\" " + m_environment + " && { " + shellSetup +
                        " ./nimbrelsvc 2>&1 & echo PID:$!; wait $!; echo EXIT:$?; }";
  m_pipe = popen(command.c_str(), "r");
  if (!m_pipe) return false;
  m_reader = std::thread([this] { ReadOutput(); });
  return WaitForLine("SSL security server initialization is complete!");
}

void ServiceProcess::ReadOutput() {
  char line[4096];
  while (std::fgets(line, sizeof line, m_pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (text.rfind("PID:", 0) == 0) {
      m_pid = std::atoi(text.c_str() + 4);
    } else if (text.rfind("EXIT:", 0) == 0) {
      m_exit = std::atoi(text.c_str() + 5);
    } else {
      m_lines.push_back(text);
    }
    m_changed.notify_all();
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_ended = true;
  m_changed.notify_all();
}

bool ServiceProcess::WaitForLine(const std::string& text, int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  auto has = [&] {
    for (const std::string& line : m_lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  };
  m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return has() || m_ended; });
  return has();
}

int ServiceProcess::WaitExit(int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_ended; })) return -1;
  return m_exit;
}

void ServiceProcess::Signal(const std::string& name) {
  int pid;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_pid != 0 || m_ended; });
    pid = m_pid;
    if (m_ended || pid == 0) return;
  }
  RunCommand("kill -" + name + " " + std::to_string(pid) + " 2>/dev/null");
}

std::string ServiceProcess::ReadFile(const std::string& name) const {
  std::ifstream in(fs::path(m_dir) / name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ServiceProcess::StopAndTakeSanitizerReport() {
  Signal("TERM");
  WaitExit();
  std::string report;
  for (const std::string& line : Lines()) {
    if (report.empty() && line.find("Sanitizer") == std::string::npos && line.find("runtime error:") == std::string::npos) {
      continue;
    }
    report += line + "\n";
  }
  return report;
}

std::vector<std::string> ServiceProcess::Lines() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lines;
}
