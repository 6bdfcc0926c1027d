#include <cstdlib>
#include <fstream>

#include "platform/system/Registry.h"

namespace platform::system {

namespace {
std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}
}  // namespace

std::optional<std::string> ReadMachineRegistryString(const std::string& keyPath,
                                                     const std::string& valueName) {
  const char* injected = std::getenv(kTestRegistryVariable);
  if (!injected || !*injected) return std::nullopt;
  std::ifstream in(injected);
  std::string line;
  bool inKey = false;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty()) continue;
    if (t.front() == '[' && t.back() == ']') {
      inKey = SameNoCase(Trim(t.substr(1, t.size() - 2)), keyPath);
      continue;
    }
    size_t eq = t.find('=');
    if (inKey && eq != std::string::npos && SameNoCase(Trim(t.substr(0, eq)), valueName))
      return Trim(t.substr(eq + 1));
  }
  return std::nullopt;
}

}  // namespace platform::system
