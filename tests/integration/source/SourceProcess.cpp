#include "SourceProcess.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace sourcetest {

SourceProcess::SourceProcess(const std::string& arguments) {
    // The shell prints its own pid and then becomes the source, so the pid is the source's.
    // NIMBREL_SOURCE_BIN in the environment runs another build (a sanitizer build, say).
    const char* other = std::getenv("NIMBREL_SOURCE_BIN");
    const std::string command = "echo $$; exec '" + std::string(other ? other : NIMBREL_SOURCE_BIN) + "' " + arguments;
    m_pipe = popen(command.c_str(), "r");
    if (!m_pipe) return;
    std::array<char, 64> line{};
    if (!std::fgets(line.data(), line.size(), m_pipe)) return;
    m_pid = std::to_string(std::atoi(line.data()));
    m_reader = std::thread([this] { ReadLines(); });
    auto listening = WaitFor([](const rapidjson::Document& d) {
        return d.HasMember("event") && std::string(d["event"].GetString()) == "listening";
    });
    if (!listening) return;
    rapidjson::Document d;
    d.Parse(listening->c_str());
    m_port = d["port"].GetInt();
    if (d.HasMember("tlsPort")) m_tlsPort = d["tlsPort"].GetInt();
}

SourceProcess::~SourceProcess() { Stop(); }

void SourceProcess::ReadLines() {
    std::string pending;
    std::array<char, 4096> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), m_pipe)) {
        pending += chunk.data();
        if (pending.empty() || pending.back() != '\n') continue;
        pending.pop_back();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(std::move(pending));
        pending.clear();
        m_changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_eof = true;
    m_changed.notify_all();
}

std::optional<std::string> SourceProcess::WaitFor(const Match& match, std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::size_t checked = 0;
    std::optional<std::string> found;
    m_changed.wait_for(lock, limit, [&] {
        for (; checked < m_lines.size(); ++checked) {
            rapidjson::Document d;
            d.Parse(m_lines[checked].c_str());
            if (!d.HasParseError() && d.IsObject() && match(d)) {
                found = m_lines[checked];
                return true;
            }
        }
        return m_eof;
    });
    return found;
}

std::optional<std::string> SourceProcess::WaitForEvent(const std::string& event, std::int64_t conn,
                                                       std::chrono::seconds limit) {
    return WaitFor([&](const rapidjson::Document& d) {
        if (!d.HasMember("event") || event != d["event"].GetString()) return false;
        return conn == 0 || (d.HasMember("conn") && d["conn"].GetInt64() == conn);
    }, limit);
}

std::vector<std::string> SourceProcess::Lines() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

int SourceProcess::Stop() {
    if (m_stopped || !m_pipe) return -1;
    m_stopped = true;
    if (!m_pid.empty()) std::system(("kill -TERM " + m_pid + " 2>/dev/null").c_str());
    if (m_reader.joinable()) m_reader.join();
    return pclose(m_pipe);
}

std::string TempDir() {
    static std::atomic<int> counter{0};
    std::random_device random;
    auto dir = std::filesystem::temp_directory_path() /
               ("nimbrel-source-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir);
    return dir.string();
}

std::string RunCommand(const std::string& command) {
    std::string out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 4096> chunk{};
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
    pclose(pipe);
    return out;
}

}  // namespace sourcetest
