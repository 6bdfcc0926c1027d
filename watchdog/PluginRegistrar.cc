#include "watchdog/PluginRegistrar.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/DebugLog.h"
#include "platform/system/DynamicLibrary.h"
#include "platform/system/Registry.h"

namespace {

struct PluginKind {
  const char* file;
  const char* registryKey;
};

// In order of preference: the second is considered only when the first file is absent.
constexpr PluginKind kPluginKinds[] = {
    {"./npQmIPCCtl.dll", "SOFTWARE\\QM\\VxIPCCtl"},
    {"./npQmNvrNetClient.dll", "SOFTWARE\\QM\\VxVRWebPlugin"},
};

using RegisterEntry = std::int32_t (*)();

bool RegisterLibrary(const char* file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec) || std::filesystem::is_directory(file, ec)) return false;
  auto library = platform::system::DynamicLibrary::Load(file);
  if (!library) return false;
  auto entry = reinterpret_cast<RegisterEntry>(library->Symbol("DllRegisterServer"));
  return entry && entry() >= 0;
}

}  // namespace

void PluginRegistrar::CheckOnce() {
  const PluginKind* kind = nullptr;
  for (const auto& candidate : kPluginKinds) {
    std::error_code ec;
    if (std::filesystem::exists(candidate.file, ec)) {
      kind = &candidate;
      break;
    }
  }
  std::string version;
  if (kind)
    version = platform::system::ReadMachineRegistryString(kind->registryKey, "Version").value_or("");
  if (!version.empty()) {
    m_registered = false;
    return;
  }
  if (m_registered || !kind) return;
  if (RegisterLibrary(kind->file))
    m_registered = true;
  else
    DebugLogText("Service Watch Registry ocx failed");
}
