#include "common/ColourText.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

std::string Trim(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return text.substr(b, e - b);
}

// Reads a leading integer the way the standard conversion does (leading blanks, sign, digits up to
// the first other character); empty when there are no digits or the number does not fit an int.
std::optional<int> LeadingInt(const std::string& text, int base) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(begin, &end, base);
  if (end == begin || errno == ERANGE || v < INT_MIN || v > INT_MAX) return std::nullopt;
  return static_cast<int>(v);
}

std::uint32_t Pack(int r, int g, int b) {
  auto clamp = [](int v) { return static_cast<std::uint32_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  return clamp(r) | (clamp(g) << 8) | (clamp(b) << 16);
}

}  // namespace

std::optional<std::uint32_t> ColourTextToValue(const std::string& input) {
  std::string text = Trim(input);
  if (!text.empty() && text[0] == '#') {
    std::string digits = text.substr(1);
    if (digits.size() == 6) {
      int c[3];
      for (int i = 0; i < 3; ++i) {
        auto v = LeadingInt(digits.substr(i * 2, 2), 16);
        if (!v) return std::nullopt;
        c[i] = *v;
      }
      return Pack(c[0], c[1], c[2]);
    }
    if (digits.size() == 3) {
      int c[3];
      for (int i = 0; i < 3; ++i) {
        auto v = LeadingInt(digits.substr(i, 1), 16);
        if (!v) return std::nullopt;
        c[i] = *v * 16 + 15;
      }
      return Pack(c[0], c[1], c[2]);
    }
    return 0u;
  }
  size_t open = text.find('(');
  size_t close = open == std::string::npos ? std::string::npos : text.find(')', open + 1);
  if (close == std::string::npos) return 0u;
  std::string inner = text.substr(open + 1, close - open - 1);
  std::string parts[4];
  int count = 0;
  for (size_t start = 0;;) {
    size_t comma = inner.find(',', start);
    if (count < 4) parts[count] = inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    ++count;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (count != 3) return 0u;
  int c[3];
  for (int i = 0; i < 3; ++i) {
    auto v = LeadingInt(parts[i], 10);
    if (!v) return std::nullopt;
    c[i] = *v;
  }
  return Pack(c[0], c[1], c[2]);
}
