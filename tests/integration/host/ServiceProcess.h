#pragma once
// A real nimbrelsvc in a temporary run directory of its own, for integration tests and benches.
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ServiceProcess {
 public:
  // Makes the run directory: the binary, certificates and a config.ini whose port start is a
  // free pair of loopback ports (or `portStart` when given).
  explicit ServiceProcess(int portStart = -1);
  ~ServiceProcess();

  const std::string& Dir() const { return m_dir; }
  int Port() const { return m_port; }
  void WriteConfig(const std::string& portText);
  // Shell assignments ("NAME=value ...") the service starts with, after the defaults (before Start).
  void SetEnvironment(const std::string& assignments) { m_environment = assignments; }

  // Starts the service, its app-data folder "appdata" in the run directory; true once it logged
  // that both listener pairs are up. `shellSetup` runs in the starting shell first (for example
  // "ulimit -n 64;").
  bool Start(const std::string& shellSetup = "");
  // Waits for an output line containing `text`; false at `timeoutMs` or when the process ended
  // without it.
  bool WaitForLine(const std::string& text, int timeoutMs = 10000);
  // Waits for the process to end; its exit status, 128 + signal when killed, -1 at the time-out.
  int WaitExit(int timeoutMs = 10000);
  void Signal(const std::string& name);
  int Pid() const { return m_pid; }
  std::vector<std::string> Lines();
  // Stops the process; what a sanitizer build of the service reported, from its first report on.
  std::string StopAndTakeSanitizerReport();
  // A file of the run directory ("" when missing); "xdg-open.log" and "zenity.log" record what
  // the service asked the desktop for.
  std::string ReadFile(const std::string& name) const;

 private:
  void ReadOutput();

  std::string m_dir;
  std::string m_environment;
  int m_port = 0;
  FILE* m_pipe = nullptr;
  std::thread m_reader;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_lines;  // guarded by m_mutex
  int m_pid = 0;                     // guarded by m_mutex
  int m_exit = -1;                   // guarded by m_mutex
  bool m_ended = false;              // guarded by m_mutex
};

// The first of `count` consecutive loopback ports free on IPv4 and IPv6 at the time of the call.
int FreePortRange(int count);
// Runs a shell command and returns what it printed on standard output.
std::string RunCommand(const std::string& command);
