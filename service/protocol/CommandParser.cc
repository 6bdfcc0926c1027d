#include "service/protocol/CommandParser.h"

#include "common/DebugLog.h"
#include "common/JsonText.h"
#include "service/protocol/CommandKeys.h"

CommandKeys FindCommandKeys(const std::string& cmd) {
  static const CommandKeyTable table = [] {
    CommandKeyTable t;
    AddWindowCommandKeys(t);
    AddStreamCommandKeys(t);
    AddLocalCommandKeys(t);
    AddDeviceCommandKeys(t);
    return t;
  }();
  auto it = table.find(cmd);
  return it == table.end() ? nullptr : it->second;
}

const rapidjson::Value& ReadRequestJson(const KeyReader& data, CommandRequest& request) {
  const rapidjson::Value& value = data.Value("requestJson");
  request.requestJson = WriteCompactJson(value);
  return value;
}

KeyReader RequestData(const rapidjson::Value& requestJson) {
  if (!requestJson.IsObject()) return KeyReader(nullptr);
  auto it = requestJson.FindMember("data");
  return KeyReader(it == requestJson.MemberEnd() ? nullptr : &it->value);
}

namespace {
void ReadEnvelope(const rapidjson::Document& document, CommandRequest& request) {
  KeyReader root(&document);
  if (!root.Has("cmd")) {
    // A bare status message of the page: answered as a command without a name.
    request.code = root.OptInt("code");
    return;
  }
  request.cmd = root.String("cmd");
  if (CommandKeys keys = FindCommandKeys(request.cmd)) keys(root, request);
  if (auto sequence = root.OptString("sequence")) request.sequence = *sequence;
}
}  // namespace

int ParseCommand(const std::string& text, CommandRequest& request) {
  try {
    rapidjson::Document document;
    if (!ParseJsonText(text, document) || !document.IsObject()) return -1;
    try {
      ReadEnvelope(document, request);
    } catch (const KeyError&) {
      DebugLogText("ParseJson error!!!");
      return -1;
    }
    return 0;
  } catch (...) {
    DebugLogText("try catch error!");
    return -1;
  }
}
