// Keys of the device, P2P and cloud-platform commands. The service answers these without work,
// but a message that lacks their keys is still refused like any other.
#include "service/protocol/CommandKeys.h"

namespace {
void SearchDevice(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.ipType = data.Int("ipType");
  r.deviceProtocol = data.Int("deviceProtocol");
  r.onvifMultiNet = data.Bool("onvifMultiNet");
}

void CallHttpRequest(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  ReadRequestJson(data, r);
  r.ip = data.String("ip");
  r.url = data.String("url");
  r.isPost = data.Bool("isPost");
}

void LoginDevice(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.ip = data.String("ip");
  r.httpPort = data.Int("httpPort");
  r.userName = data.String("userName");
  r.password = data.String("password");
}

void LogoutDevice(const KeyReader& root, CommandRequest& r) { r.ip = Data(root).String("ip"); }

// The device login carried by P2P commands on platform 0.
void DeviceLogin(const KeyReader& p, CommandRequest& r) {
  r.deviceSn = p.String("deviceSn");
  r.userName = p.String("devUsername");
  r.password = p.String("devPasswd");
}

void StartP2PPlay(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.platform = data.Int("platform");
  KeyReader p = data.Object("param");
  r.channel = p.Int("channelId");
  r.stream = p.Int("streamId");
  r.wndIndex = p.Int("wndIndex");
  if (*r.platform != 0) {
    r.channelGuid = p.String("channelGuid");
  } else {
    DeviceLogin(p, r);
    r.needDecrypt = p.Int("needDecrypt");
  }
}

void StopP2PPlay(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.platform = data.Int("platform");
  r.channel = data.Object("param").Int("channelId");
}

void SearchRecordFile(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.platform = data.Int("platform");
  KeyReader p = data.Object("param");
  r.fileType = p.Int("fileType");
  r.startTime = p.String("startTime");
  r.endTime = p.String("endTime");
  if (*r.platform != 0) {
    r.channelGuid = p.String("channelGuid");
  } else {
    DeviceLogin(p, r);
    r.channel = p.Int("channelId");
    r.stream = p.Int("streamId");
    r.needDecrypt = p.Int("needDecrypt");
  }
}

void RecordStream(const KeyReader& root, CommandRequest& r, bool withPane) {
  KeyReader data = Data(root);
  r.platform = data.Int("platform");
  KeyReader p = data.Object("param");
  r.channel = p.Int("channelId");
  r.fileType = p.Int("fileType");
  r.startTime = p.String("startTime");
  r.endTime = p.String("endTime");
  if (withPane) r.wndIndex = p.Int("wndIndex");
  if (*r.platform != 0) {
    r.channelGuid = p.String("channelGuid");
    r.offset = p.String("offset");
  } else {
    r.stream = p.Int("streamId");
  }
}

void StartP2PPlayBack(const KeyReader& root, CommandRequest& r) { RecordStream(root, r, true); }
void SkipRecordStream(const KeyReader& root, CommandRequest& r) { RecordStream(root, r, false); }

void StartPtzControl(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.platform = data.Int("platform");
  if (*r.platform != 0) return;
  KeyReader p = data.Object("param");
  r.channel = p.Int("channelId");
  r.ptzCommand = p.Int("ptzCommand");
}

void ShowChannelNo(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.platform = data.Int("platform");
  r.show = data.Bool("show");
}

void NumberForOnePage(const KeyReader& root, CommandRequest& r) { r.number = Data(root).Int("number"); }

void FileType(const KeyReader& root, CommandRequest& r) { r.fileType = Data(root).Int("type"); }

void SearchByMonth(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.fileType = data.Int("type");
  r.startTime = data.String("startTime");
  r.endTime = data.String("endTime");
}

void DeleteLocalFile(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.fileType = data.Int("type");
  r.filePath = data.String("filePath");
}

void LoginPlatform(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.loginType = data.Int("loginType");
  KeyReader platform = data.Object("platform");
  if (*r.loginType != 1) {
    KeyReader lumavista = platform.Object("Lumavista");
    r.platformUser = lumavista.String("userName");
    r.regionAddr = lumavista.String("regionAddr");
    r.regionPort = lumavista.Int("regionPort");
  }
  if (*r.loginType != 0) {
    KeyReader aliyun = platform.Object("Aliyun");
    r.appKey = aliyun.String("appKey");
    r.appSecret = aliyun.String("appSecret");
    r.authCode = aliyun.String("authCode");
    r.countyCode = aliyun.String("countyCode");
    r.aliAreaId = aliyun.Int("aliAreaId");
  }
}
}  // namespace

void AddDeviceCommandKeys(CommandKeyTable& table) {
  table["searchDevice"] = SearchDevice;
  table["callHttpRequest"] = CallHttpRequest;
  table["loginDevice"] = LoginDevice;
  table["logoutDevice"] = LogoutDevice;
  table["startP2PPlay"] = StartP2PPlay;
  table["stopP2PPlay"] = StopP2PPlay;
  table["stopP2PPlayBack"] = StopP2PPlay;
  table["searchRecordFile"] = SearchRecordFile;
  table["startP2PPlayBack"] = StartP2PPlayBack;
  table["skipRecordStream"] = SkipRecordStream;
  table["startPtzControl"] = StartPtzControl;
  table["showChannelNo"] = ShowChannelNo;
  table["setNumForOnePage"] = NumberForOnePage;
  table["showFirstPage"] = FileType;
  table["showNextPage"] = FileType;
  table["searchByMonth"] = SearchByMonth;
  table["deleteLocalFile"] = DeleteLocalFile;
  table["loginPlatform"] = LoginPlatform;
}
