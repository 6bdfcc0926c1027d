#include "service/host/ServiceWiring.h"

#include "common/DebugLog.h"
#include "common/IniFile.h"
#include "platform/system/Shell.h"
#include "service/protocol/CommandParser.h"
#include "service/protocol/EventRouter.h"

std::unique_ptr<IEvent> MakeServiceEvents(SessionTable& sessions, IConnectionWriter& writer) {
  return std::make_unique<EventRouter>(sessions, writer);
}

namespace {
// Room for a few dozen origins.
constexpr size_t kOriginsBuffer = 8192;
}  // namespace

HttpServices MakeHttpServices() {
  HttpServices services;
  services.parseCommand = [](const std::string& json, PictureUpload& upload) {
    CommandRequest request;
    int result = ParseCommand(json, request);
    upload.cmd = request.cmd;
    upload.fileName = request.fileName;
    upload.fileBase64 = request.fileBase64;
    return result;
  };
  services.openFolder = [](const std::string& folder) { platform::system::ShellOpen(folder); };
  services.origins =
      OriginAllowList(GetProfileString("Security", "AllowedOrigins", "", kOriginsBuffer, "./config.ini"));
  if (services.origins.InForce()) {
    DebugLog("AllowedOrigins: %zu origins may open sessions and upload", services.origins.Size());
  }
  return services;
}
