#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "service/protocol/CommandReply.h"

namespace {

struct ReplyCase {
  const char* cmd;
  std::function<void(CommandReply&)> fill;
  const char* data;  // the expected "data" object
};

TEST(BuildReplyTextTest, WritesEachFamilyInOrder) {
  const ReplyCase cases[] = {
      {"webconnect", [](CommandReply& r) { r.version = "1.2.3"; }, R"({"errorCode":0,"version":"1.2.3"})"},
      {"onGetSelectWndIndex", [](CommandReply& r) { r.wndIndex = 2; r.channel = -1; },
       R"({"errorCode":0,"wndIndex":2,"channel":-1})"},
      {"notice", [](CommandReply& r) { r.errorCode = 4002; r.wndIndex = 1; r.channel = 7; },
       R"({"errorCode":4002,"wndIndex":1,"channel":7})"},
      {"getOSDTime", [](CommandReply& r) { r.osdTime = 99; r.wndIndex = 1; r.stream = 2; r.speed = -4; r.callback = "f"; },
       R"({"errorCode":0,"osdTime":99,"wndIndex":1,"stream":2,"speed":-4,"callback":"f"})"},
      {"getLocalConfig", [](CommandReply& r) { r.path = "/h"; r.recordFilePath = "ignored"; },
       R"({"errorCode":0,"localConfig":{"savePath":"/h"}})"},
      {"getLocalConfig", [](CommandReply& r) { r.recordFilePath = "a"; r.clipsPlaybackPath = "e"; },
       R"({"errorCode":0,"localConfig":{"recordFilePath":"a","downloadFilePath":"","captureLivePath":"","capturePlaybackPath":"","clipsPlaybackPath":"e"}})"},
      {"playbackFileEnd", [](CommandReply& r) { r.stopTime = "s"; r.wndIndex = 3; },
       R"({"errorCode":0,"stopTime":"s","wndIndex":3})"},
      {"downloadProgress", [](CommandReply& r) { r.progress = 100; }, R"({"errorCode":0,"progress":100})"},
      {"getBitRate", [](CommandReply&) {}, R"({"errorCode":0,"bitRate":0})"},
      {"startPlayBack", [](CommandReply& r) { r.wndIndex = 5; }, R"({"errorCode":0,"wndIndex":5})"},
      {"startPlay", [](CommandReply& r) { r.errorCode = -1; r.wndIndex = 5; }, R"({"errorCode":-1})"},
      {"seekPlayBack", [](CommandReply& r) { r.wndIndex = 5; r.seekTime = "12"; },
       R"({"errorCode":0,"wndIndex":5,"seekTime":"12"})"},
      {"getDigitalZoom", [](CommandReply& r) { r.coordinateX = 25.0f; r.coordinateY = 0.5f; },
       R"({"errorCode":0,"coordinateX":25.0,"coordinateY":0.5})"},
      {"getDigitalZoom", [](CommandReply& r) { r.coordinateX = NAN; r.coordinateY = INFINITY; },
       R"({"errorCode":0,"coordinateX":0.0,"coordinateY":0.0})"},
      {"searchRecordFile", [](CommandReply&) {}, R"({"errorCode":0,"param":"{}"})"},
      {"startTalk", [](CommandReply& r) { r.errorCode = -2; r.channel = -2; }, R"({"errorCode":-2,"channel":-2})"},
      {"searchDevice", [](CommandReply& r) { r.device.userName = "not written without ip"; }, R"({"errorCode":0})"},
      {"searchDevice", [](CommandReply& r) { r.device.ip = "10.0.0.2"; r.device.httpPort = 80; r.alreadyLogin = true; },
       R"({"errorCode":0,"alreadyLogin":true,"param":{"ip":"10.0.0.2","netMask":"","gateway":"","dns1":"","dns2":"","mac":"","dhcp":0,"devName":"","httpPort":80,"rtspPort":0,"tcpPort":0,"playbackPort":0,"privatePort":0,"channelNum":0,"platformType":0,"devType":"","softwareVersion":"","firmwareVersion":"","serialNumber":"","userName":"","password":""}})"},
      {"somethingElse", [](CommandReply& r) { r.version = "v"; r.wndIndex = 3; }, R"({"errorCode":0})"},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.cmd);
    CommandReply reply;
    reply.cmd = c.cmd;
    reply.sequence = "7";
    reply.uuid = "{U}";
    c.fill(reply);
    EXPECT_EQ(BuildReplyText(reply),
              std::string(R"({"cmd":")") + c.cmd + R"(","data":)" + c.data + R"(,"sequence":"7","uuid":"{U}"})");
  }
}

TEST(BuildReplyTextTest, EscapesTextsAndKeepsBytes) {
  CommandReply reply;
  reply.cmd = "webconnect";
  reply.version = "a\"b\\c\n\x01\xC3\xA9";
  EXPECT_EQ(BuildReplyText(reply),
            "{\"cmd\":\"webconnect\",\"data\":{\"errorCode\":0,\"version\":\"a\\\"b\\\\c\\n\\u0001\xC3\xA9\"},"
            "\"sequence\":\"\",\"uuid\":\"\"}");
}

}  // namespace
