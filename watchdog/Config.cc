#include "watchdog/Config.h"

#include "common/IniFile.h"

namespace {
constexpr size_t kNameBufferLength = 50;
}

std::string ReadInfoName(const char* key, const std::string& configPath) {
  return GetProfileString("Info", key, "", kNameBufferLength, configPath);
}
