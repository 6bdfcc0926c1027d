#include <gtest/gtest.h>

#include <functional>

#include "LogCapture.h"
#include "service/protocol/CommandParser.h"

namespace {

// Every message of the table is either accepted, refused quietly (not a JSON object) or refused
// with the "ParseJson error!!!" line.
enum class Outcome { kAccepted, kNotJson, kKeyError };

struct AcceptCase {
  const char* name;
  std::string text;
  Outcome outcome;
};

TEST(ParseCommandTest, AcceptsAndRefusesByKeyRules) {
  const std::string rect = R"("rect":{"left":1,"top":2,"width":3,"height":4})";
  const std::string play = R"("url":"ws://s","wndIndex":0,"playParam":{"videoCoder":1,"audioCoder":2,"frameRate":25,"bitRate":0,"width":640,"height":480})";
  const AcceptCase cases[] = {
      {"array root", R"([{"cmd":"webconnect"}])", Outcome::kNotJson},
      {"truncated", R"({"cmd":"webconnect")", Outcome::kNotJson},
      {"trailing garbage", R"({"cmd":"webconnect"} x)", Outcome::kNotJson},
      {"comment", R"({"cmd":"webconnect"/*x*/})", Outcome::kNotJson},
      {"empty text", "", Outcome::kNotJson},
      {"deep nesting", R"({"cmd":"x","data":)" + std::string(200, '[') + std::string(200, ']') + "}",
       Outcome::kNotJson},
      {"code only", R"({"code":5})", Outcome::kAccepted},
      {"code not int", R"({"code":"5"})", Outcome::kKeyError},
      {"cmd not string", R"({"cmd":5})", Outcome::kKeyError},
      {"sequence not string", R"({"cmd":"webconnect","sequence":7})", Outcome::kKeyError},
      {"unknown command ignores data", R"({"cmd":"dance","data":5})", Outcome::kAccepted},
      {"webconnect null data", R"({"cmd":"webconnect","data":null})", Outcome::kAccepted},
      {"webconnect version not string", R"({"cmd":"webconnect","data":{"webVersion":1}})", Outcome::kKeyError},
      {"getLocalConfig without data", R"({"cmd":"getLocalConfig"})", Outcome::kAccepted},
      {"data not an object", R"({"cmd":"arrangeWnd","data":[1]})", Outcome::kKeyError},
      {"createWnd", R"({"cmd":"createWnd","data":{)" + rect + "}}", Outcome::kAccepted},
      {"createWnd missing top", R"({"cmd":"createWnd","data":{"rect":{"left":1,"width":3,"height":4}}})",
       Outcome::kKeyError},
      {"createWnd bodyHeight text", R"({"cmd":"moveWnd","data":{"rect":{"left":1,"top":2,"width":3,"height":4,"bodyHeight":"9"}}})",
       Outcome::kKeyError},
      {"createWnd style lacks pixel",
       R"({"cmd":"createWnd","data":{)" + rect +
           R"(,"style":{"wndColor":"#000","borderColor":"#111","highlightColor":"#222","borderPixel":1}}})",
       Outcome::kKeyError},
      {"createWnd style not object", R"({"cmd":"createWnd","data":{)" + rect + R"(,"style":"x"}})",
       Outcome::kKeyError},
      {"int beyond 32 bits", R"({"cmd":"arrangeWnd","data":{"arrangeType":2147483648}})", Outcome::kKeyError},
      {"int written as fraction", R"({"cmd":"arrangeWnd","data":{"arrangeType":4.0}})", Outcome::kKeyError},
      {"startPlay", R"({"cmd":"startPlay","data":{"requestJson":{"data":{"sessionID":"s"}},)" + play + "}}",
       Outcome::kAccepted},
      {"startPlay without sessionID", R"({"cmd":"startPlay","data":{"requestJson":{"data":{}},)" + play + "}}",
       Outcome::kKeyError},
      {"startPlay without requestJson", R"({"cmd":"startPlayBack","data":{)" + play + "}}", Outcome::kKeyError},
      {"startPlay dxva not bool",
       R"({"cmd":"startPlay","data":{"requestJson":{"data":{"sessionID":"s"}},"dxva":1,)" + play + "}}",
       Outcome::kKeyError},
      {"startTalk encodeType bool",
       R"({"cmd":"startTalk","data":{"url":"u","requestJson":{"data":{"encodeType":true}}}})", Outcome::kKeyError},
      {"openSound stream text ignored", R"({"cmd":"openSound","data":{"wndIndex":1,"stream":"x","callback":3}})",
       Outcome::kAccepted},
      {"zoom integer coordinate",
       R"({"cmd":"setDigitalZoom","data":{"wndIndex":0,"coordinateX":25,"coordinateY":1.0,"penWidth":1,"penColor":"red"}})",
       Outcome::kAccepted},
      {"zoom coordinate as text",
       R"({"cmd":"setDigitalZoom","data":{"wndIndex":0,"coordinateX":"25","coordinateY":1.0,"penWidth":1,"penColor":"red"}})",
       Outcome::kKeyError},
      {"zoom fraction coordinates",
       R"({"cmd":"setDigitalZoom","data":{"wndIndex":0,"coordinateX":25.0,"coordinateY":1e1,"penWidth":1,"penColor":"red"}})",
       Outcome::kAccepted},
      {"zoom beyond float range",
       R"({"cmd":"setDigitalZoom","data":{"wndIndex":0,"coordinateX":1e39,"coordinateY":1.0,"penWidth":1,"penColor":"red"}})",
       Outcome::kKeyError},
      {"multiPlay param object", R"({"cmd":"startMultiPlay","data":{"url":"u","param":{}}})", Outcome::kAccepted},
      {"multiPlay element lacks wndIndex",
       R"({"cmd":"startMultiPlay","data":{"url":"u","param":[{"requestJson":{},"playParam":{"videoCoder":1,"audioCoder":2,"frameRate":25,"bitRate":0,"width":640,"height":480}}]}})",
       Outcome::kKeyError},
      {"multiRecord element not object", R"({"cmd":"startMultiRecord","data":{"param":[5]}})", Outcome::kKeyError},
      {"stopRecord without pane or channel", R"({"cmd":"stopRecord","data":{"platform":0}})", Outcome::kKeyError},
      {"seek without seekTime", R"({"cmd":"seekPlayBack","data":{"wndIndex":0,"requestJson":{"data":{}}}})",
       Outcome::kKeyError},
      {"seek request without data", R"({"cmd":"seekPlayBack","data":{"wndIndex":0,"requestJson":{"x":1}}})",
       Outcome::kAccepted},
      {"speed text", R"({"cmd":"setPlaybackSpeed","data":{"wndIndex":0,"requestJson":{"data":{"speed":"2"}}}})",
       Outcome::kKeyError},
      {"download size from data",
       R"({"cmd":"startDownload","data":{"url":"u","fileName":"f","fileSize":"9","requestJson":{"data":{"startTime":"a","endTime":"b"}}}})",
       Outcome::kAccepted},
      {"download without size",
       R"({"cmd":"startDownload","data":{"url":"u","fileName":"f","requestJson":{"data":{"startTime":"a","endTime":"b"}}}})",
       Outcome::kKeyError},
      {"P2P play on a platform", R"({"cmd":"startP2PPlay","data":{"platform":1,"param":{"channelId":1,"streamId":0,"wndIndex":2,"channelGuid":"g"}}})",
       Outcome::kAccepted},
      {"P2P play lacks needDecrypt",
       R"({"cmd":"startP2PPlay","data":{"platform":0,"param":{"channelId":1,"streamId":0,"wndIndex":2,"deviceSn":"d","devUsername":"u","devPasswd":"p"}}})",
       Outcome::kKeyError},
      {"login first platform only",
       R"({"cmd":"loginPlatform","data":{"loginType":0,"platform":{"Lumavista":{"userName":"u","regionAddr":"a","regionPort":1}}}})",
       Outcome::kAccepted},
      {"login both lacks second",
       R"({"cmd":"loginPlatform","data":{"loginType":2,"platform":{"Lumavista":{"userName":"u","regionAddr":"a","regionPort":1}}}})",
       Outcome::kKeyError},
      {"searchDevice", R"({"cmd":"searchDevice","data":{"ipType":0,"deviceProtocol":1,"onvifMultiNet":false}})",
       Outcome::kAccepted},
      {"picture lacks base64", R"({"cmd":"downloadPicture","data":{"fileName":"a.jpg"}})", Outcome::kKeyError},
  };
  for (const AcceptCase& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    CommandRequest request;
    int result = ParseCommand(c.text, request);
    EXPECT_EQ(result, c.outcome == Outcome::kAccepted ? 0 : -1);
    std::vector<std::string> expectedLog;
    if (c.outcome == Outcome::kKeyError) expectedLog = {"ParseJson error!!!"};
    EXPECT_EQ(log.Lines(), expectedLog);
  }
}

struct FieldCase {
  const char* name;
  std::string text;
  std::function<void(const CommandRequest&)> check;
};

TEST(ParseCommandTest, FillsTheFieldsOfEachCommand) {
  const std::string playParam = R"("playParam":{"videoCoder":1,"audioCoder":2,"frameRate":25,"bitRate":512,"width":640,"height":480})";
  const FieldCase cases[] = {
      {"startPlay without camera channel",
       R"({"cmd":"startPlay","sequence":"q1","data":{"url":"ws://s","wndIndex":3,)" + playParam +
           R"(,"requestJson":{"data":{"sessionID":"abc","speed":2}}}})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.cmd, "startPlay");
         EXPECT_EQ(r.sequence, "q1");
         EXPECT_EQ(r.url, "ws://s");
         EXPECT_EQ(r.wndIndex, 3);
         EXPECT_EQ(r.channel, 0);
         EXPECT_EQ(r.speed, 2);
         EXPECT_EQ(r.sessionID, "abc");
         EXPECT_EQ(r.videoWidth, 640);
         EXPECT_EQ(r.videoHeight, 480);
         EXPECT_EQ(r.bitRate, 512);
         EXPECT_EQ(r.dxva, false);
       }},
      {"command without camera channel keeps default", R"({"cmd":"arrangeWnd","data":{"arrangeType":4}})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.arrangeType, 4);
         EXPECT_EQ(r.channel, -2);
         EXPECT_FALSE(r.wndIndex.has_value());
       }},
      {"stopRecord prefers channel", R"({"cmd":"stopRecord","data":{"channel":3,"wndIndex":1}})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.channel, 3);
         EXPECT_FALSE(r.wndIndex.has_value());
       }},
      {"stopRecord by pane", R"({"cmd":"stopRecord","data":{"wndIndex":1}})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.channel, -2);
         EXPECT_EQ(r.wndIndex, 1);
       }},
      {"talk AAC", R"({"cmd":"startTalk","data":{"url":"u","requestJson":{"data":{"encodeType":"AAC"}}}})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.audioCoder, 39);
         EXPECT_EQ(r.channel, -2);
       }},
      {"talk coder number", R"({"cmd":"startTalk","data":{"url":"u","requestJson":{"data":{"encodeType":7,"channel":4}}}})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.audioCoder, 7);
         EXPECT_EQ(r.channel, 4);
       }},
      {"talk unknown coder name", R"({"cmd":"startTalk","data":{"url":"u","requestJson":{"data":{"encodeType":"OPUS"}}}})",
       [](const CommandRequest& r) { EXPECT_FALSE(r.audioCoder.has_value()); }},
      {"openSound takes only typed extras",
       R"({"cmd":"getOSDTime","data":{"wndIndex":2,"stream":"x","speed":4,"callback":"cb"}})",
       [](const CommandRequest& r) {
         EXPECT_FALSE(r.stream.has_value());
         EXPECT_EQ(r.speed, 4);
         EXPECT_EQ(r.callback, "cb");
       }},
      {"requestJson written compact in received order",
       "{\"cmd\":\"stopPlay\",\"data\":{\"channel\":-1,\"requestJson\":{ \"z\" : 1.50 ,\n\t\"a\" : [1, 2, {\"k\" : \"v w\\n\\u00e9\"}], \"n\":null }}}",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.requestJson, "{\"z\":1.5,\"a\":[1,2,{\"k\":\"v w\\n\xC3\xA9\"}],\"n\":null}");
         EXPECT_EQ(r.channel, -1);
       }},
      {"multiPlay items in order",
       R"({"cmd":"startMultiPlayBack","data":{"url":"u","param":[{"requestJson":{"b":1,"a":2},"wndIndex":4,)" + playParam +
           R"(,"dxva":true},{"requestJson":"t","wndIndex":5,)" + playParam + "}]}}",
       [](const CommandRequest& r) {
         ASSERT_EQ(r.multiPlay.size(), 2u);
         EXPECT_EQ(r.multiPlay[0].requestJson, R"({"b":1,"a":2})");
         EXPECT_EQ(r.multiPlay[0].wndIndex, 4);
         EXPECT_TRUE(r.multiPlay[0].dxva);
         EXPECT_EQ(r.multiPlay[1].requestJson, R"("t")");
         EXPECT_EQ(r.multiPlay[1].wndIndex, 5);
         EXPECT_EQ(r.multiPlay[1].videoHeight, 480);
         EXPECT_FALSE(r.multiPlay[1].dxva);
       }},
      {"multiRecord items", R"({"cmd":"startMultiRecord","data":{"param":[{"fileName":"a","channel":1,"wndIndex":2}]}})",
       [](const CommandRequest& r) {
         ASSERT_EQ(r.multiRecord.size(), 1u);
         EXPECT_EQ(r.multiRecord[0].fileName, "a");
         EXPECT_EQ(r.multiRecord[0].channel, 1);
         EXPECT_EQ(r.multiRecord[0].wndIndex, 2);
       }},
      {"download keys from requestJson",
       R"({"cmd":"startDownload","data":{"url":"u","fileName":"f","fileSize":"1","requestJson":{"data":{"startTime":"s","endTime":"e","fileSize":"99","id":"d7"}}}})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.fileSize, "99");
         EXPECT_EQ(r.downloadId, "d7");
         EXPECT_EQ(r.startTime, "s");
         EXPECT_EQ(r.endTime, "e");
       }},
      {"seek time", R"({"cmd":"seekPlayBack","data":{"wndIndex":1,"requestJson":{"data":{"seekTime":"1700000000"}}}})",
       [](const CommandRequest& r) { EXPECT_EQ(r.seekTime, "1700000000"); }},
      {"zoom coordinates as float", R"({"cmd":"setDigitalZoom","data":{"wndIndex":0,"coordinateX":25.5,"coordinateY":-2e0,"penWidth":3,"penColor":"#F00"}})",
       [](const CommandRequest& r) {
         EXPECT_FLOAT_EQ(*r.coordinateX, 25.5f);
         EXPECT_FLOAT_EQ(*r.coordinateY, -2.0f);
         EXPECT_EQ(r.penWidth, 3);
         EXPECT_EQ(r.penColor, "#F00");
       }},
      {"window style", R"({"cmd":"createWnd","data":{"rect":{"left":-5,"top":2,"width":3,"height":4,"bodyHeight":700},"style":{"wndColor":"#000","borderColor":"#111","highlightColor":"#222","borderPixel":1,"highlightPixel":2}}})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.left, -5);
         EXPECT_EQ(r.bodyHeight, 700);
         EXPECT_EQ(r.highlightColor, "#222");
         EXPECT_EQ(r.highlightPixel, 2);
       }},
      {"platform login", R"({"cmd":"loginPlatform","data":{"loginType":1,"platform":{"Aliyun":{"appKey":"k","appSecret":"s","authCode":"c","countyCode":"86","aliAreaId":3}}}})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.appKey, "k");
         EXPECT_EQ(r.aliAreaId, 3);
         EXPECT_TRUE(r.platformUser.empty());
       }},
      {"code only", R"({"code":4001,"sequence":"s"})",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.cmd, "");
         EXPECT_EQ(r.code, 4001);
       }},
      {"sequence byte for byte", "{\"cmd\":\"webconnect\",\"sequence\":\"7 \\u4e2d\\\"x\",\"data\":{\"webVersion\":\"2.1\"}}",
       [](const CommandRequest& r) {
         EXPECT_EQ(r.sequence, "7 \xE4\xB8\xAD\"x");
         EXPECT_EQ(r.webVersion, "2.1");
       }},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.name);
    CommandRequest request;
    ASSERT_EQ(ParseCommand(c.text, request), 0);
    c.check(request);
  }
}

// A message cut anywhere is refused, never read past its end; only the whole text parses.
TEST(ParseCommandTest, EveryPrefixIsRefused) {
  const std::string messages[] = {
      R"({"cmd":"startPlay","sequence":"9","data":{"url":"ws://127.0.0.1:1/x","wndIndex":3,"dxva":true,"playParam":{"videoCoder":1,"audioCoder":2,"frameRate":25,"bitRate":512,"width":640,"height":480},"requestJson":{"action":"play","data":{"sessionID":"s\"1","channel":2,"speed":-2,"x":-1.5e3}}}})",
      R"({"cmd":"startMultiRecord","data":{"param":[{"fileName":"\u00e9","channel":1,"wndIndex":2}]}})",
  };
  LogCapture log;
  for (const std::string& text : messages) {
    for (size_t n = 0; n < text.size(); ++n) {
      CommandRequest request;
      // A private copy so any read past the cut is seen by the sanitizers.
      std::string prefix(text.data(), n);
      EXPECT_EQ(ParseCommand(prefix, request), -1) << n;
    }
    CommandRequest request;
    EXPECT_EQ(ParseCommand(text, request), 0);
  }
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
