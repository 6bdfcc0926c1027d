// nimbrel-source as a viewer meets it: answers, headers, pacing controls, talk, TLS,
// fragmentation, files, and clients that misbehave.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "RawWsClient.h"
#include "SourceProcess.h"
#include "WsTestClient.h"
#include "tests/support/Sanitized.h"

namespace sourcetest {
namespace {

constexpr int kH264 = 0, kH265 = 1, kMjpeg = 3, kG711A = 16, kG711U = 17, kAac = 21;

std::int64_t ConnOf(const std::string& line) {
    rapidjson::Document d;
    d.Parse(line.c_str());
    return d["conn"].GetInt64();
}

class SourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new std::string(TempDir());
        const std::string cert = *s_dir + "/cert.pem", key = *s_dir + "/key.pem";
        RunCommand("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                   "-subj /CN=localhost -keyout '" + key + "' -out '" + cert + "' 2>/dev/null");
        s_source = new SourceProcess("--port 0 --tls-port 0 --cert '" + cert + "' --key '" + key + "'");
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(s_source->Stop(), 0) << "the source must exit cleanly on SIGTERM";
        delete s_source;
        RunCommand("rm -rf '" + *s_dir + "'");
        delete s_dir;
    }
    void SetUp() override { ASSERT_TRUE(s_source->Started()) << "nimbrel-source did not report its ports"; }

    static std::unique_ptr<WsTestClient> Open(const std::string& target, bool tls = false,
                                              const std::string& host = "127.0.0.1") {
        auto client = std::make_unique<WsTestClient>();
        std::string error;
        const int port = tls ? s_source->TlsPort() : s_source->Port();
        EXPECT_TRUE(client->Connect(host, port, target, tls, error)) << target << ": " << error;
        return client;
    }

    // Sends the request text and reads up to and including the end-of-data answer.
    static std::vector<WsMessage> Play(WsTestClient& client, const std::string& request = R"({"action":"play"})") {
        std::vector<WsMessage> out;
        EXPECT_TRUE(client.SendText(request));
        while (auto m = client.Read()) {
            out.push_back(*m);
            if (m->text && m->data == R"({"code":302})") break;
        }
        return out;
    }

    static std::string* s_dir;
    static SourceProcess* s_source;
};

std::string* SourceTest::s_dir = nullptr;
SourceProcess* SourceTest::s_source = nullptr;

struct Ffprobe {
    std::string codec;
    int width = 0, height = 0, frames = 0;
};

Ffprobe Probe(const std::string& path) {
    const std::string out = RunCommand(
        "ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,nb_read_frames "
        "-of default=noprint_wrappers=1 '" + path + "'");
    Ffprobe p;
    auto value = [&](const std::string& key) {
        auto at = out.find(key + "=");
        return at == std::string::npos ? std::string{} : out.substr(at + key.size() + 1, out.find('\n', at) - at - key.size() - 1);
    };
    p.codec = value("codec_name");
    p.width = std::atoi(value("width").c_str());
    p.height = std::atoi(value("height").c_str());
    p.frames = std::atoi(value("nb_read_frames").c_str());
    return p;
}

struct StreamCase {
    const char* query;
    int videoCodec;
    const char* probeName;
    int audioCodec;  // -1: none
    int audioRate;
    bool dot;
};

TEST_F(SourceTest, StreamsEachCodecWithItsAudioBehindCorrectHeaders) {
    const StreamCase cases[] = {
        {"codec=h264&audio=none", kH264, "h264", -1, 0, false},
        {"codec=h265&audio=g711a&dot=1", kH265, "hevc", kG711A, 8000, true},
        {"codec=mjpeg&audio=g711u", kMjpeg, "mjpeg", kG711U, 8000, false},
        {"codec=h264&audio=aac&arate=32000", kH264, "h264", kAac, 32000, false},
    };
    constexpr int kFrames = 6;
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.query);
        const std::string target = std::string("/live?width=96&height=64&fps=50&frames=") +
                                   std::to_string(kFrames) + "&" + c.query;
        auto client = Open(target);
        const std::string request = R"({"action":"play","data":{"channel":3}})";
        auto messages = Play(*client, request);
        ASSERT_GE(messages.size(), 2u);
        EXPECT_TRUE(messages.front().text);
        EXPECT_EQ(messages.front().data, R"({"code":0})");
        EXPECT_EQ(messages.back().data, R"({"code":302})");

        const std::string dump = *s_dir + "/video.bin";
        std::ofstream file(dump, std::ios::binary | std::ios::trunc);
        int video = 0, audio = 0;
        std::uint32_t lastTime = 0;
        for (std::size_t i = 1; i + 1 < messages.size(); ++i) {
            ASSERT_FALSE(messages[i].text) << messages[i].data;
            auto media = ParseMedia(messages[i].data);
            ASSERT_TRUE(media);
            EXPECT_EQ(media->dot, c.dot);
            EXPECT_GE(media->time, lastTime);
            lastTime = media->time;
            if (media->video) {
                EXPECT_EQ(media->codec, c.videoCodec);
                EXPECT_EQ(media->width, 96u);
                EXPECT_EQ(media->height, 64u);
                EXPECT_EQ(media->rate, 50u);
                if (video == 0) {
                    EXPECT_EQ(media->frameType, 1) << "the stream must open on a key frame";
                }
                file.write(media->payload.data(), static_cast<std::streamsize>(media->payload.size()));
                ++video;
            } else {
                ASSERT_NE(c.audioCodec, -1) << "audio in a stream without audio";
                EXPECT_EQ(media->codec, c.audioCodec);
                EXPECT_EQ(media->rate, static_cast<std::uint32_t>(c.audioRate));
                if (c.audioCodec == kAac) {
                    ASSERT_GE(media->payload.size(), 7u);
                    EXPECT_EQ(static_cast<unsigned char>(media->payload[0]), 0xff) << "ADTS sync word";
                    EXPECT_EQ(static_cast<unsigned char>(media->payload[1]) & 0xf0, 0xf0);
                } else {
                    EXPECT_EQ(media->payload.size(), 320u) << "40 ms of G.711";
                }
                ++audio;
            }
        }
        file.close();
        EXPECT_EQ(video, kFrames);
        if (c.audioCodec != -1) {
            EXPECT_GT(audio, 0);
        }

        const Ffprobe probe = Probe(dump);
        EXPECT_EQ(probe.codec, c.probeName);
        EXPECT_EQ(probe.width, 96);
        EXPECT_EQ(probe.height, 64);
        EXPECT_EQ(probe.frames, kFrames);

        auto logged = s_source->WaitFor([&](const rapidjson::Document& d) {
            return std::string(d["event"].GetString()) == "request" && d["text"].GetString() == request;
        });
        EXPECT_TRUE(logged) << "the request text must be logged as received";
    }
}

TEST_F(SourceTest, AnswersTheRequestedCodeInsteadOfStreaming) {
    for (int code : {203, 4001, 4003}) {
        auto client = Open("/live?codec=h264&code=" + std::to_string(code), false, code == 4003 ? "::1" : "127.0.0.1");
        ASSERT_TRUE(client->SendText("{}"));
        auto answer = client->Read();
        ASSERT_TRUE(answer);
        EXPECT_TRUE(answer->text);
        EXPECT_EQ(answer->data, "{\"code\":" + std::to_string(code) + "}");
        auto line = s_source->WaitFor([&](const rapidjson::Document& d) {
            return std::string(d["event"].GetString()) == "answer" && d["code"].GetInt() == code;
        });
        ASSERT_TRUE(line);
        client->Close();
        auto closed = s_source->WaitForEvent("close", ConnOf(*line));
        ASSERT_TRUE(closed);
        EXPECT_NE(closed->find("\"videoFrames\":0,"), std::string::npos) << *closed;
    }
}

TEST_F(SourceTest, SplitsEveryMessageIntoFramesOfTheRequestedSize) {
    RawWsClient raw;
    ASSERT_TRUE(raw.Connect(s_source->Port(), "/live?codec=h264&width=64&height=64&fps=50&frames=2&fragment=7"));
    ASSERT_TRUE(raw.SendMaskedText(R"({"action":"play"})"));
    std::vector<RawMessage> messages;
    for (;;) {
        auto m = raw.ReadMessage();
        ASSERT_TRUE(m) << "connection ended before end of data";
        messages.push_back(*m);
        if (m->opcode == 1 && m->data == R"({"code":302})") break;
    }
    ASSERT_EQ(messages.size(), 4u);  // code 0, two frames, code 302
    EXPECT_EQ(messages[0].data, R"({"code":0})");
    for (const RawMessage& m : messages) {
        EXPECT_EQ(m.frames.size(), (m.data.size() + 6) / 7);
        for (std::size_t i = 0; i < m.frames.size(); ++i) {
            EXPECT_LE(m.frames[i].size, 7u);
            EXPECT_EQ(m.frames[i].opcode, i == 0 ? m.opcode : 0) << "later frames are continuations";
            EXPECT_EQ(m.frames[i].fin, i + 1 == m.frames.size());
        }
    }
    auto first = ParseMedia(messages[1].data);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->video);
    EXPECT_EQ(first->width, 64u);
}

TEST_F(SourceTest, ServesTlsBesidePlain) {
    auto client = Open("/live?codec=h265&width=64&height=64&fps=50&frames=3", true);
    auto messages = Play(*client);
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages.front().data, R"({"code":0})");
    auto media = ParseMedia(messages[1].data);
    ASSERT_TRUE(media);
    EXPECT_EQ(media->codec, kH265);
    auto line = s_source->WaitFor([](const rapidjson::Document& d) {
        return std::string(d["event"].GetString()) == "connect" && d["tls"].GetBool();
    });
    EXPECT_TRUE(line);
}

TEST_F(SourceTest, PlaybackFollowsPauseSeekAndSpeedTextsAndLogsThem) {
    // Four seconds of stream time at 8x; a seek to the last second leaves exactly one second.
    auto client = Open("/playback?mode=playback&codec=h264&width=64&height=64&fps=10&start=5000&end=5004&speed=8");
    ASSERT_TRUE(client->SendText(R"({"action":"playback","data":{"channel":1}})"));
    auto answer = client->Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->data, R"({"code":0})");
    auto first = client->Read();
    ASSERT_TRUE(first && !first->text);
    EXPECT_EQ(ParseMedia(first->data)->time, 5000u);

    ASSERT_TRUE(client->SendText(R"({"action":"pause"})"));
    ASSERT_TRUE(s_source->WaitFor([](const rapidjson::Document& d) {
        return std::string(d["event"].GetString()) == "text" && std::string(d["action"].GetString()) == "pause" &&
               d["applied"].GetBool();
    }));
    ASSERT_TRUE(client->SendText(R"({"action":"speed","data":{"speed":-2}})"));
    ASSERT_TRUE(client->SendText(R"({"action":"speed","value":16})"));
    ASSERT_TRUE(client->SendText(R"({"action":"seek","data":{"seekTime":"5003"}})"));

    // Frames sent before the seek may still arrive; from the seek target on, the stream
    // restarts on a key frame and ends after exactly one second of frames.
    int afterSeek = -1;
    for (;;) {
        auto m = client->Read();
        ASSERT_TRUE(m);
        if (m->text) {
            EXPECT_EQ(m->data, R"({"code":302})");
            break;
        }
        auto media = ParseMedia(m->data);
        if (afterSeek < 0 && media->time == 5003) {
            EXPECT_EQ(media->frameType, 1);
            afterSeek = 0;
        }
        if (afterSeek >= 0) ++afterSeek;
    }
    EXPECT_EQ(afterSeek, 10);

    auto seek = s_source->WaitFor([](const rapidjson::Document& d) {
        return std::string(d["event"].GetString()) == "text" && std::string(d["action"].GetString()) == "seek";
    });
    ASSERT_TRUE(seek);
    EXPECT_NE(seek->find("\"seekTo\":5003"), std::string::npos) << *seek;
    EXPECT_TRUE(s_source->WaitFor([](const rapidjson::Document& d) {
        return std::string(d["event"].GetString()) == "text" && d["speed"].GetDouble() == 0.5;
    })) << "speed -2 means half speed";
}

TEST_F(SourceTest, DownloadsTheRequestedRangeFromTheRequestText) {
    auto client = Open("/download?mode=download&codec=mjpeg&width=64&height=64&fps=25&audio=g711a");
    auto messages = Play(*client, R"({"action":"download","data":{"startTime":"7000","endTime":"7002"}})");
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.back().data, R"({"code":302})");
    int video = 0, audio = 0;
    for (std::size_t i = 1; i + 1 < messages.size(); ++i) {
        auto media = ParseMedia(messages[i].data);
        ASSERT_TRUE(media);
        EXPECT_GE(media->time, 7000u);
        EXPECT_LT(media->time, 7002u);
        (media->video ? video : audio)++;
    }
    EXPECT_EQ(video, 50);
    EXPECT_EQ(audio, 50) << "two seconds of 40 ms blocks";
}

// Whole-file downloads: the range as one MP4 in pieces behind video headers, then 302.
TEST_F(SourceTest, DownloadsAWholeMp4FileInPieces) {
    for (const char* codec : {"h264", "h265"}) {
        SCOPED_TRACE(codec);
        auto client = Open(std::string("/d?mode=download&container=mp4&codec=") + codec + "&width=96&height=64&fps=25");
        auto messages = Play(*client, R"({"action":"download","data":{"startTime":"7000","endTime":"7002"}})");
        ASSERT_GE(messages.size(), 3u);
        EXPECT_EQ(messages.front().data, R"({"code":0})");
        const std::string path = *s_dir + "/whole-" + codec + ".mp4";
        std::ofstream file(path, std::ios::binary);
        for (std::size_t i = 1; i + 1 < messages.size(); ++i) {
            auto media = ParseMedia(messages[i].data);
            ASSERT_TRUE(media && media->video);
            EXPECT_EQ(media->time, 7000u);
            EXPECT_EQ(media->frameType, 1);
            file.write(media->payload.data(), static_cast<std::streamsize>(media->payload.size()));
        }
        file.close();
        const Ffprobe probe = Probe(path);
        EXPECT_EQ(probe.codec, codec == std::string("h264") ? "h264" : "hevc");
        EXPECT_EQ(probe.width, 96);
        EXPECT_EQ(probe.frames, 50);
    }
    EXPECT_TRUE(s_source->WaitFor([](const rapidjson::Document& d) {
        return d.HasMember("fileBytes") && d["fileBytes"].IsUint64() && d["fileBytes"].GetUint64() > 0;
    }));
}

TEST_F(SourceTest, CountsTalkAudioAndSendsTheDevicesAudioBack) {
    auto client = Open("/talk?mode=talk&audio=g711u");
    ASSERT_TRUE(client->SendText(R"({"action":"talk","data":{"encodeType":"G711A"}})"));
    auto answer = client->Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->data, R"({"code":0})");
    auto back = client->Read();
    ASSERT_TRUE(back && !back->text);
    auto media = ParseMedia(back->data);
    EXPECT_FALSE(media->video);
    EXPECT_EQ(media->codec, kG711U);

    auto block = [](std::size_t length, std::size_t declared) {
        std::string m(36 + length, '\x55');
        std::fill(m.begin(), m.begin() + 36, '\0');
        m[6] = static_cast<char>(declared & 0xff);
        m[7] = static_cast<char>(declared >> 8);
        m[28] = 1;  // the service labels talk audio with its own code: 1 is G.711 A-law
        return m;
    };
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(client->SendBinary(block(320, 320)));
    ASSERT_TRUE(client->SendBinary(block(100, 320)));  // length field disagrees
    ASSERT_TRUE(client->SendBinary(std::string(10, '\1')));  // not even a header
    auto talk = s_source->WaitFor([](const rapidjson::Document& d) {
        return std::string(d["event"].GetString()) == "talkAudio" && d["messages"].GetInt() == 1;
    });
    ASSERT_TRUE(talk);
    EXPECT_NE(talk->find("\"codecName\":\"g711a\""), std::string::npos) << *talk;
    client->Close();
    auto closed = s_source->WaitForEvent("close", ConnOf(*talk));
    ASSERT_TRUE(closed);
    rapidjson::Document d;
    d.Parse(closed->c_str());
    EXPECT_EQ(d["talkMessages"].GetInt(), 6);
    EXPECT_EQ(d["talkBytes"].GetInt(), 5 * 320 + 100);
    EXPECT_EQ(d["talkBadLength"].GetInt(), 1);
    EXPECT_EQ(d["talkMalformed"].GetInt(), 1);
    EXPECT_EQ(d["talkSamples"].GetInt(), 5 * 320 + 100) << "G.711: one sample per byte";
}

TEST_F(SourceTest, SurvivesMisbehavingClientsAndServesManyAtOnce) {
    // Not WebSocket at all, a bad query, garbage frames, and a close right after the request.
    RawWsClient garbage;
    ASSERT_TRUE(garbage.ConnectOnly(s_source->Port()));
    garbage.SendRaw("\x16\x03\x01 not http at all\r\n\r\n");
    garbage.ReadUntilClosed();
    RawWsClient plainHttp;
    ASSERT_TRUE(plainHttp.ConnectOnly(s_source->Port()));
    plainHttp.SendRaw("GET /live HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_NE(plainHttp.ReadUntilClosed().find("426"), std::string::npos);
    WsTestClient badQuery;
    std::string error;
    EXPECT_FALSE(badQuery.Connect("127.0.0.1", s_source->Port(), "/live?codec=vp9", false, error));
    EXPECT_TRUE(s_source->WaitForEvent("refused"));
    RawWsClient badFrames;
    ASSERT_TRUE(badFrames.Connect(s_source->Port(), "/live?codec=h264&width=64&height=64"));
    badFrames.SendRaw(std::string("\x81\x7f\xff\xff\xff\xff\xff\xff\xff\xff", 10) + "junk");  // huge length, unmasked
    badFrames.ReadUntilClosed();
    {
        auto early = Open("/live?codec=h264&width=64&height=64&fps=50");
        ASSERT_TRUE(early->SendText("{}"));
    }  // closes before any media

    // Then 64 viewers at once, each getting its whole short stream.
    constexpr int kViewers = 64;
    std::vector<std::thread> viewers;
    std::atomic<int> complete{0};
    for (int i = 0; i < kViewers; ++i) {
        viewers.emplace_back([&, i] {
            WsTestClient client;
            std::string err;
            const char* codec = i % 2 ? "h264" : "mjpeg";
            if (!client.Connect("127.0.0.1", s_source->Port(),
                                std::string("/live?width=64&height=64&fps=50&frames=10&codec=") + codec, false, err))
                return;
            if (!client.SendText("{}")) return;
            int binary = 0;
            while (auto m = client.Read()) {
                if (!m->text) ++binary;
                if (m->text && m->data == R"({"code":302})") {
                    if (binary == 10) ++complete;
                    break;
                }
            }
        });
    }
    for (auto& t : viewers) t.join();
    EXPECT_EQ(complete.load(), kViewers);
}

TEST_F(SourceTest, LiveDropsForASlowReaderInsteadOfGrowing) {
    // Large pictures at a high rate fill the socket and then the bounded queue. A sanitizer
    // build paints and encodes the two-second loop many times slower before the first frame:
    // a quarter of the frames, and more time.
    const int fps = kSanitized ? 30 : 120;
    auto client = Open("/live?codec=mjpeg&width=1280&height=720&fps=" + std::to_string(fps));
    ASSERT_TRUE(client->SendText("{}"));
    auto overflow = s_source->WaitForEvent("overflow", 0, std::chrono::seconds(kSanitized ? 60 : 20));
    if (!overflow) {
        for (const auto& line : s_source->Lines()) std::fprintf(stderr, "source: %s\n", line.c_str());
    }
    ASSERT_TRUE(overflow) << "a reader that does not read must cause drops";
    // The viewer still gets whole, valid messages once it reads again.
    auto answer = client->Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->data, R"({"code":0})");
    for (int i = 0; i < 5; ++i) {
        auto m = client->Read();
        ASSERT_TRUE(m && !m->text);
        auto media = ParseMedia(m->data);
        ASSERT_TRUE(media);
        EXPECT_EQ(media->width, 1280u);
    }
}

TEST(SourceFileTest, LoopsTheVideoOfARecordedFileAsAnnexB) {
    const std::string dir = TempDir();
    const std::string mp4 = dir + "/clip.mp4";
    RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=128x96:rate=10 -t 1 -c:v libx264 -g 5 -pix_fmt yuv420p '" +
               mp4 + "'");
    SourceProcess source("--port 0 --file '" + mp4 + "'");
    ASSERT_TRUE(source.Started());
    WsTestClient client;
    std::string error;
    ASSERT_TRUE(client.Connect("127.0.0.1", source.Port(), "/live?codec=mjpeg&frames=15", false, error)) << error;
    ASSERT_TRUE(client.SendText("{}"));
    std::ofstream dump(dir + "/dump.h264", std::ios::binary);
    int frames = 0;
    while (auto m = client.Read()) {
        if (m->text) {
            if (m->data == R"({"code":302})") break;
            continue;
        }
        auto media = ParseMedia(m->data);
        EXPECT_EQ(media->codec, kH264) << "the file's codec wins over the query";
        EXPECT_EQ(media->width, 128u);
        EXPECT_EQ(media->rate, 10u);
        dump.write(media->payload.data(), static_cast<std::streamsize>(media->payload.size()));
        ++frames;
    }
    dump.close();
    EXPECT_EQ(frames, 15);  // one and a half passes over a 10-frame file
    const Ffprobe probe = Probe(dir + "/dump.h264");
    EXPECT_EQ(probe.codec, "h264");
    EXPECT_EQ(probe.frames, 15);
    EXPECT_EQ(source.Stop(), 0);
    RunCommand("rm -rf '" + dir + "'");
}

}  // namespace
}  // namespace sourcetest
