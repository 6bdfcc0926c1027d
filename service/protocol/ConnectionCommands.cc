// Commands that concern the page connection itself.
#include "common/IniFile.h"
#include "service/protocol/CommandTable.h"
#include "service/protocol/Session.h"

namespace {
// The configured version is read into a fixed 50-byte buffer: at most 49 characters.
constexpr size_t kVersionBuffer = 50;
constexpr const char* kDefaultConfigPath = "./config.ini";
}  // namespace

void RegisterConnectionCommands(CommandTable& table) {
  table.Register("webconnect", [](CommandCall& call) {
    call.session.m_strWebVersion = call.request.webVersion;
    const std::string& path = call.service.configPath.empty() ? kDefaultConfigPath : call.service.configPath;
    call.reply.version = GetProfileString("Info", "Version", "", kVersionBuffer, path);
    return 0;
  });
}
