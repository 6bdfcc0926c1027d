// Keys of the connection, settings and local file commands.
#include "service/protocol/CommandKeys.h"

namespace {
void WebConnect(const KeyReader& root, CommandRequest& r) {
  // "data" may be absent or null here.
  const rapidjson::Value* data = root.Find("data");
  if (!data || !data->IsObject()) return;
  if (auto version = KeyReader(data).OptString("webVersion")) r.webVersion = *version;
}

void DeviceType(const KeyReader& root, CommandRequest& r) {
  if (auto type = Data(root).OptString("deviceType")) r.deviceType = *type;
}

void FilePath(const KeyReader& root, CommandRequest& r) { r.filePath = Data(root).String("filePath"); }

void Picture(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.fileName = data.String("fileName");
  r.fileBase64 = data.String("fileBase64");
}

void ProcessName(const KeyReader& root, CommandRequest& r) {
  r.processName = Data(root).String("processName");
}

void DecStrategy(const KeyReader& root, CommandRequest& r) {
  r.decStrategy = Data(root).Int("decStrategy");
}
}  // namespace

void AddLocalCommandKeys(CommandKeyTable& table) {
  table["webconnect"] = WebConnect;
  table["getLocalConfig"] = DeviceType;
  table["openDownloadFloder"] = FilePath;
  table["downloadPicture"] = Picture;
  table["getProcessIsAdmin"] = ProcessName;
  table["setDecStrategy"] = DecStrategy;
}
