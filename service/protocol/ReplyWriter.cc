#include <cmath>
#include <unordered_map>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "common/DebugLog.h"
#include "service/protocol/CommandReply.h"

namespace {
using Writer = rapidjson::Writer<rapidjson::StringBuffer>;
using Members = void (*)(Writer&, const CommandReply&);

void Key(Writer& w, const char* key) { w.Key(key); }
void Text(Writer& w, const char* key, const std::string& value) {
  w.Key(key);
  w.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}
void Int(Writer& w, const char* key, int32_t value) {
  w.Key(key);
  w.Int(value);
}
// A zoom over a pane of no size divides by zero; the page still gets a number.
void Number(Writer& w, const char* key, float value) {
  w.Key(key);
  w.Double(std::isfinite(value) ? static_cast<double>(value) : 0.0);
}

void PaneAndChannel(Writer& w, const CommandReply& r) {
  Int(w, "wndIndex", r.wndIndex);
  Int(w, "channel", r.channel);
}

void LocalConfig(Writer& w, const CommandReply& r) {
  Key(w, "localConfig");
  w.StartObject();
  if (!r.path.empty()) {
    Text(w, "savePath", r.path);
  } else {
    Text(w, "recordFilePath", r.recordFilePath);
    Text(w, "downloadFilePath", r.downloadFilePath);
    Text(w, "captureLivePath", r.captureLivePath);
    Text(w, "capturePlaybackPath", r.capturePlaybackPath);
    Text(w, "clipsPlaybackPath", r.clipsPlaybackPath);
  }
  w.EndObject();
}

void Param(Writer& w, const CommandReply& r) { Text(w, "param", r.param.empty() ? "{}" : r.param); }

void SearchDevice(Writer& w, const CommandReply& r) {
  const DeviceRecord& d = r.device;
  if (d.ip.empty()) return;
  Key(w, "alreadyLogin");
  w.Bool(r.alreadyLogin);
  Key(w, "param");
  w.StartObject();
  Text(w, "ip", d.ip);
  Text(w, "netMask", d.netMask);
  Text(w, "gateway", d.gateway);
  Text(w, "dns1", d.dns1);
  Text(w, "dns2", d.dns2);
  Text(w, "mac", d.mac);
  Int(w, "dhcp", d.dhcp);
  Text(w, "devName", d.devName);
  Int(w, "httpPort", d.httpPort);
  Int(w, "rtspPort", d.rtspPort);
  Int(w, "tcpPort", d.tcpPort);
  Int(w, "playbackPort", d.playbackPort);
  Int(w, "privatePort", d.privatePort);
  Int(w, "channelNum", d.channelNum);
  Int(w, "platformType", d.platformType);
  Text(w, "devType", d.devType);
  Text(w, "softwareVersion", d.softwareVersion);
  Text(w, "firmwareVersion", d.firmwareVersion);
  Text(w, "serialNumber", d.serialNumber);
  Text(w, "userName", d.userName);
  Text(w, "password", d.password);
  w.EndObject();
}

const std::unordered_map<std::string, Members>& MemberTable() {
  static const std::unordered_map<std::string, Members> table = [] {
    std::unordered_map<std::string, Members> t;
    for (const char* name : {"onGetSelectWndIndex", "getSelectWndIndex", "notice"}) t[name] = PaneAndChannel;
    for (const char* name : {"searchRecordFile", "startP2PPlay", "showFirstPage", "showNextPage",
                             "searchByMonth", "callHttpRequest", "startPtzControl"})
      t[name] = Param;
    t["webconnect"] = [](Writer& w, const CommandReply& r) { Text(w, "version", r.version); };
    t["getOSDTime"] = [](Writer& w, const CommandReply& r) {
      Int(w, "osdTime", r.osdTime);
      Int(w, "wndIndex", r.wndIndex);
      Int(w, "stream", r.stream);
      Int(w, "speed", r.speed);
      Text(w, "callback", r.callback);
    };
    t["getLocalConfig"] = LocalConfig;
    t["browseFilePath"] = [](Writer& w, const CommandReply& r) { Text(w, "filePath", r.path); };
    t["downloadStartTime"] = [](Writer& w, const CommandReply& r) { Text(w, "startTime", r.startTime); };
    t["playbackFileEnd"] = [](Writer& w, const CommandReply& r) {
      Text(w, "stopTime", r.stopTime);
      Int(w, "wndIndex", r.wndIndex);
    };
    t["downloadProgress"] = [](Writer& w, const CommandReply& r) { Int(w, "progress", r.progress); };
    t["getBitRate"] = [](Writer& w, const CommandReply& r) { Int(w, "bitRate", r.bitRate); };
    t["startPlayBack"] = [](Writer& w, const CommandReply& r) { Int(w, "wndIndex", r.wndIndex); };
    t["seekPlayBack"] = [](Writer& w, const CommandReply& r) {
      Int(w, "wndIndex", r.wndIndex);
      Text(w, "seekTime", r.seekTime);
    };
    t["getDigitalZoom"] = [](Writer& w, const CommandReply& r) {
      Number(w, "coordinateX", r.coordinateX);
      Number(w, "coordinateY", r.coordinateY);
    };
    t["createWnd"] = [](Writer& w, const CommandReply& r) { Text(w, "browser", r.browser); };
    t["getProcessIsAdmin"] = [](Writer& w, const CommandReply& r) {
      Key(w, "isAdministrator");
      w.Bool(r.isAdministrator);
    };
    t["startTalk"] = [](Writer& w, const CommandReply& r) { Int(w, "channel", r.channel); };
    t["searchDevice"] = SearchDevice;
    t["loginDevice"] = [](Writer& w, const CommandReply& r) { Text(w, "sessionId", r.sessionId); };
    return t;
  }();
  return table;
}
}  // namespace

std::string BuildReplyText(const CommandReply& reply) {
  try {
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    Text(w, "cmd", reply.cmd);
    Key(w, "data");
    w.StartObject();
    Int(w, "errorCode", reply.errorCode);
    auto it = MemberTable().find(reply.cmd);
    if (it != MemberTable().end()) it->second(w, reply);
    w.EndObject();
    Text(w, "sequence", reply.sequence);
    Text(w, "uuid", reply.uuid);
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
  } catch (...) {
    DebugLogText("try catch error...");
    return {};
  }
}
