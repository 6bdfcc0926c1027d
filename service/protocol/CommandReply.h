#pragma once
// The record every outgoing JSON text (reply or notice) is written from. Built, written and
// discarded by one thread (the command thread for replies, the raising thread for notices).
// Integers start at 0 so a member the producer leaves alone is still a defined number.
#include <cstdint>
#include <string>

// Device found by a search; written only when ip is not empty.
struct DeviceRecord {
  std::string ip, netMask, gateway, dns1, dns2, mac, devName, devType, softwareVersion,
      firmwareVersion, serialNumber, userName, password;
  int32_t dhcp = 0, httpPort = 0, rtspPort = 0, tcpPort = 0, playbackPort = 0, privatePort = 0,
          channelNum = 0, platformType = 0;
};

struct CommandReply {
  int32_t errorCode = 0;
  int32_t wndIndex = 0;
  int32_t channel = 0;
  int32_t stream = 0;
  int32_t speed = 0;
  int32_t osdTime = 0;
  int32_t progress = 0;
  int32_t bitRate = 0;
  float coordinateX = 0;
  float coordinateY = 0;
  std::string cmd;
  std::string uuid;
  std::string sequence;
  std::string callback;
  std::string recordFilePath, downloadFilePath, captureLivePath, capturePlaybackPath,
      clipsPlaybackPath;
  std::string path;  // "savePath" of localConfig, or "filePath"
  std::string startTime;
  std::string stopTime;
  std::string seekTime;
  std::string version;
  std::string browser;
  std::string sessionId;
  bool alreadyLogin = false;
  bool isAdministrator = false;
  DeviceRecord device;
  std::string param;
};

// The compact JSON text {"cmd":..,"data":{"errorCode":..,<members of cmd>},"sequence":..,"uuid":..};
// "" when it could not be built. Pure; any thread.
std::string BuildReplyText(const CommandReply& reply);
