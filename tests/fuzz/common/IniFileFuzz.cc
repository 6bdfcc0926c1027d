// config.ini as a local user may leave it: the profile-string reading and the number conversion
// of the values read. Input: section line, key line, buffer length byte, then the file.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/IniFile.h"
#include "tests/fuzz/common/FuzzInput.h"

namespace {
// The reference: strtol, clamped to int.
int ReferenceAtoi(const std::string& text) {
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = (fuzzinput::ScratchFolder() / "config.ini").string();
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  const std::string section = fuzzinput::TakeField(input, at, '\n');
  const std::string key = fuzzinput::TakeField(input, at, '\n');
  size_t length = 64;
  if (at < input.size()) length = static_cast<uint8_t>(input[at++]);
  fuzzinput::WriteFile(path, input.substr(at));

  const std::string value = GetProfileString(section, key, "default", length, path);
  if (length == 0 ? !value.empty() : value.size() >= length) __builtin_trap();
  if (AtoiText(value) != ReferenceAtoi(value)) __builtin_trap();
  if (AtoiText(input) != ReferenceAtoi(input)) __builtin_trap();
  return 0;
}
