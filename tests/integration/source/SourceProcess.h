#pragma once
// Runs nimbrel-source as a child process and follows its JSON event lines. A reader thread
// collects lines; tests wait on a condition variable for the line they expect.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <rapidjson/document.h>

namespace sourcetest {

class SourceProcess {
public:
    explicit SourceProcess(const std::string& arguments);
    ~SourceProcess();

    bool Started() const { return m_port != 0; }
    int Port() const { return m_port; }
    int TlsPort() const { return m_tlsPort; }

    // The first event line (parsed) for which `match` holds, waiting for it up to `limit`.
    using Match = std::function<bool(const rapidjson::Document&)>;
    std::optional<std::string> WaitFor(const Match& match,
                                       std::chrono::seconds limit = std::chrono::seconds(20));
    // Shorthand: event named `event` whose "conn" is `conn` (any conn when 0).
    std::optional<std::string> WaitForEvent(const std::string& event, std::int64_t conn = 0,
                                            std::chrono::seconds limit = std::chrono::seconds(20));
    std::vector<std::string> Lines();

    // Stops the process with SIGTERM and waits for it; returns its exit status.
    int Stop();

private:
    void ReadLines();

    std::FILE* m_pipe = nullptr;
    std::string m_pid;
    int m_port = 0;
    int m_tlsPort = 0;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;  // guarded by m_mutex
    bool m_eof = false;                // guarded by m_mutex
    bool m_stopped = false;
};

std::string TempDir();
// Runs a shell command, returns its standard output (empty on failure).
std::string RunCommand(const std::string& command);

}  // namespace sourcetest
