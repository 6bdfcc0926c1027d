#pragma once
// One page command, parsed from one text message. Built fresh per message by ParseCommand and
// owned by its caller for that one command (command thread, or the server thread for the
// picture upload); never shared between threads.
//
// An empty optional is a key the message did not carry; only the keys the command reads are set.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct MultiPlayItem {
  std::string requestJson;  // the element's "requestJson", compact
  int32_t wndIndex = 0;
  int32_t videoCoder = 0;
  int32_t audioCoder = 0;
  int32_t frameRate = 0;
  int32_t bitRate = 0;
  int32_t videoWidth = 0;
  int32_t videoHeight = 0;
  bool dxva = false;
};

struct MultiRecordItem {
  std::string fileName;
  int32_t channel = 0;
  int32_t wndIndex = 0;
};

struct CommandRequest {
  std::string cmd;
  std::string sequence;
  std::string url;
  std::string requestJson;  // data.requestJson re-written compact, members in received order
  std::string deviceType;
  std::string filePath;
  std::string fileName;
  std::string fileSize;
  std::string downloadId;
  std::string startTime;
  std::string endTime;
  std::string seekTime;
  std::string sessionID;
  std::string processName;
  std::string webVersion;
  std::string callback;
  std::string ip;
  std::string fileBase64;
  std::string rate;
  std::optional<bool> isPost;
  std::optional<int32_t> httpPort;
  std::optional<int32_t> arrangeType;
  std::optional<int32_t> ratioType;
  std::optional<int32_t> left, top, width, height;
  int32_t bodyHeight = 0;
  std::optional<int32_t> wndIndex;
  std::optional<int32_t> cutWidth, cutHeight;
  std::optional<int32_t> videoCoder, audioCoder, frameRate, bitRate, videoWidth, videoHeight;
  std::optional<bool> dxva;
  std::optional<int32_t> code;
  int32_t channel = -2;
  std::optional<int32_t> speed;
  std::optional<bool> corridorMode;
  std::optional<float> coordinateX, coordinateY;
  int32_t penWidth = 0;
  std::string penColor;
  std::string wndColor, borderColor, highlightColor;
  int32_t borderPixel = 0, highlightPixel = 0;
  std::string platformUser, regionAddr;
  std::string appKey, appSecret, authCode, countyCode;
  std::string deviceSn;
  std::string userName;
  std::string password;
  std::string channelGuid;
  std::string offset;
  std::optional<int32_t> regionPort;
  std::optional<int32_t> stream;
  std::optional<int32_t> fileType;
  std::optional<int32_t> platform;
  std::optional<int32_t> loginType;
  std::optional<int32_t> needDecrypt;
  std::optional<int32_t> ptzCommand;
  std::optional<bool> show;
  std::optional<int32_t> number;
  std::optional<int32_t> decStrategy;
  std::optional<int32_t> aliAreaId;
  std::optional<int32_t> ipType, deviceProtocol;
  std::optional<bool> onvifMultiNet;
  std::vector<MultiPlayItem> multiPlay;
  std::vector<MultiRecordItem> multiRecord;
};
