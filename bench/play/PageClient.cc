#include "PageClient.h"

#include <cstdlib>
#include <thread>

namespace {
constexpr int kReadTimeoutMs = 200;
}  // namespace

bool PageClient::Open(int port, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (std::chrono::steady_clock::now() < deadline) {
    if (m_socket.Connect(platform::net::Family::kIPv4, port, false, kReadTimeoutMs) && m_socket.Upgrade()) return true;
    m_socket.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string PageClient::Command(const std::string& cmd, const std::string& data) {
  const std::string sequence = std::to_string(++m_sequence);
  if (!m_socket.SendText(R"({"cmd":")" + cmd + R"(","data":)" + data + R"(,"sequence":")" + sequence + "\"}")) return "";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    auto text = m_socket.ReadText();
    if (!text) continue;  // read time-out; notices are skipped below
    if (JsonString(*text, "cmd") == cmd && JsonString(*text, "sequence") == sequence) return *text;
  }
  return "";
}

bool PageClient::DrainUntil(std::chrono::steady_clock::time_point until) {
  while (std::chrono::steady_clock::now() < until) m_socket.ReadText();
  return true;
}

int JsonInt(const std::string& json, const std::string& name, int otherwise) {
  const std::string marker = "\"" + name + "\":";
  const size_t at = json.find(marker);
  return at == std::string::npos ? otherwise : std::atoi(json.c_str() + at + marker.size());
}
