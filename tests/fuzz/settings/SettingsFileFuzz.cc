// The settings file as anything may have left it, and setLocalConfig messages as any page may
// send them. Input: file text, 0x01, message, 0x01, a device type to read. After a save that
// reports success, reading the saved type gives back what was saved; the file stays within the
// bound a save keeps.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/DebugLog.h"
#include "common/JsonText.h"
#include "service/settings/LocalSettings.h"
#include "tests/fuzz/common/FuzzInput.h"

namespace {
std::string StringAt(const rapidjson::Value& object, const char* key) {
  auto it = object.FindMember(key);
  return it != object.MemberEnd() && it->value.IsString()
             ? std::string(it->value.GetString(), it->value.GetStringLength())
             : std::string();
}

// What a read of the type must answer for one saved folder text.
std::string Expected(const std::string& saved, const std::string& fallback) {
  return saved.empty() || saved == "undefined" ? fallback : saved;
}

void CheckSaved(const LocalSettings& settings, const std::string& message) {
  rapidjson::Document request;
  if (!ParseJsonText(message, request)) __builtin_trap();  // it was saved, so it parsed
  const rapidjson::Value& data = request["data"];
  const rapidjson::Value& type = data["deviceType"];
  const rapidjson::Value& config = data["localConfig"];
  const std::string deviceType(type.GetString(), type.GetStringLength());
  if (deviceType.empty()) return;  // an empty type reads as nothing
  const LocalFolders read = settings.Folders(deviceType);
  if (deviceType == "P2P") {
    if (read.savePath != StringAt(config, "savePath")) __builtin_trap();
    return;
  }
  const LocalFolders defaults = LocalSettings("", "/root", '/').Folders(deviceType);
  if (read.recordFilePath != Expected(StringAt(config, "recordFilePath"), defaults.recordFilePath) ||
      read.downloadFilePath != Expected(StringAt(config, "downloadFilePath"), defaults.downloadFilePath) ||
      read.captureLivePath != Expected(StringAt(config, "captureLivePath"), defaults.captureLivePath) ||
      read.capturePlaybackPath != Expected(StringAt(config, "capturePlaybackPath"), defaults.capturePlaybackPath) ||
      read.clipsPlaybackPath != Expected(StringAt(config, "clipsPlaybackPath"), defaults.clipsPlaybackPath)) {
    __builtin_trap();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    SetDebugLogSink([](const std::string&) {});
    return true;
  }();
  (void)quiet;
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  const std::string file = fuzzinput::TakeField(input, at, '\x01');
  const std::string message = fuzzinput::TakeField(input, at, '\x01');
  const std::string readType = fuzzinput::TakeField(input, at, '\x01');

  const LocalSettings settings(fuzzinput::ScratchFolder().string(), "/root", '/');
  fuzzinput::WriteFile(settings.Path(), file);
  settings.Folders(readType);
  if (settings.SaveDevice(message) != 0) return 0;
  std::error_code ec;
  if (std::filesystem::file_size(settings.Path(), ec) > (1u << 20)) __builtin_trap();
  CheckSaved(settings, message);
  return 0;
}
