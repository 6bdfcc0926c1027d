// The real client against the real nimbrel-source over ws:// and wss://.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "SourceProcess.h"
#include "service/media/MediaHeader.h"
#include "service/media/StreamClient.h"

namespace {
// Collects what the source sends; a non-zero code ends the stream as a channel would end it.
struct Receiver {
  std::mutex mutex;
  std::condition_variable cv;
  bool connected = false;
  std::vector<std::string> texts;
  std::vector<std::vector<uint8_t>> media;
  std::atomic<StreamClient*> client{nullptr};

  static void OnMessage(const std::vector<uint8_t>& bytes, void* user) {
    auto* self = static_cast<Receiver*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    if (bytes.empty()) {
      self->connected = true;
    } else if (IsJsonText(bytes.data(), bytes.size())) {
      std::string text(bytes.begin(), bytes.end());
      self->texts.push_back(text);
      if (text.find("\"code\":0") == std::string::npos && self->client.load()) self->client.load()->Stop();
    } else {
      self->media.push_back(bytes);
    }
    self->cv.notify_all();
  }
};

class StreamSourceTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_tlsDir = (std::filesystem::temp_directory_path() /
                ("nimbrel-stream-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                   .string();
    std::filesystem::create_directories(s_tlsDir);
    s_source = new SourceProcess();
    s_started = s_source->Start(std::string(NIMBREL_RUN_DIR) + "/nimbrel-source", NIMBREL_SOURCE_DIR, s_tlsDir);
  }
  static void TearDownTestSuite() {
    delete s_source;
    std::filesystem::remove_all(s_tlsDir);
  }
  static SourceProcess* s_source;
  static bool s_started;
  static std::string s_tlsDir;
};
SourceProcess* StreamSourceTest::s_source = nullptr;
bool StreamSourceTest::s_started = false;
std::string StreamSourceTest::s_tlsDir;
}  // namespace

TEST_F(StreamSourceTest, FramesMatchTheQuery) {
  ASSERT_TRUE(s_started) << "nimbrel-source did not start";
  struct Case {
    const char* name;
    bool tls;
    const char* host;
    std::string query;
    int codec, width, height, fps;
    int audioCodec;  // -1: no audio
    int frames;
    uint8_t dot;
  };
  const Case cases[] = {
      {"ws h264", false, "127.0.0.1", "codec=h264&width=320&height=240&fps=50&frames=12", 96, 320, 240, 50, -1, 12, 0},
      {"wss h265 + AAC 16 kHz", true, "127.0.0.1", "codec=h265&width=352&height=288&fps=50&frames=8&audio=aac&arate=16000",
       150, 352, 288, 50, 34, 8, 0},
      {"ws IPv6 mjpeg + G.711A, fragmented, dot", false, "[::1]",
       "codec=mjpeg&width=320&height=240&fps=50&frames=8&audio=g711a&fragment=700&dot=1", 26, 320, 240, 50, 1, 8, 1},
      {"wss h264 + G.711u", true, "[::1]", "codec=h264&width=320&height=240&fps=50&frames=6&audio=g711u", 96, 320, 240,
       50, 2, 6, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string url = std::string(c.tls ? "wss://" : "ws://") + c.host + ":" +
                      std::to_string(c.tls ? s_source->TlsPort() : s_source->Port()) + "/live?" + c.query;
    Receiver r;
    StreamClient client(url, &Receiver::OnMessage, &r);
    r.client.store(&client);
    {
      std::unique_lock<std::mutex> lock(r.mutex);
      ASSERT_TRUE(r.cv.wait_for(lock, std::chrono::seconds(60), [&] { return r.connected; }));
    }
    ASSERT_TRUE(client.SendText("{\"request\":\"" + std::string(c.name) + "\"}"));
    ASSERT_TRUE(client.WaitEnded(std::chrono::seconds(60)));
    EXPECT_TRUE(s_source->WaitEvent({"\"request\"", c.name}));

    ASSERT_GE(r.texts.size(), 2u);
    EXPECT_EQ(r.texts.front(), "{\"code\":0}");
    EXPECT_NE(r.texts.back().find("302"), std::string::npos);
    int video = 0;
    uint32_t firstTime = 0, lastTime = 0;
    for (const auto& m : r.media) {
      auto h = ParseMediaHeader(m.data(), m.size());
      ASSERT_TRUE(h);
      ASSERT_GT(m.size(), kMediaHeaderSize);
      EXPECT_EQ(h->dot, c.dot);
      if (h->IsVideo()) {
        EXPECT_EQ(h->codec, c.codec);
        EXPECT_EQ(h->width, static_cast<uint32_t>(c.width));
        EXPECT_EQ(h->height, static_cast<uint32_t>(c.height));
        EXPECT_EQ(h->rate, static_cast<uint32_t>(c.fps));
        if (video == 0) firstTime = h->frameTime;
        EXPECT_GE(h->frameTime, lastTime);
        lastTime = h->frameTime;
        ++video;
      } else {
        EXPECT_EQ(h->codec, c.audioCodec);
      }
    }
    EXPECT_EQ(video, c.frames);
    EXPECT_GE(lastTime, firstTime);
  }
}

TEST_F(StreamSourceTest, AnswerCodeEndsTheStream) {
  ASSERT_TRUE(s_started) << "nimbrel-source did not start";
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "wss" : "ws");
    std::string url = std::string(tls ? "wss://" : "ws://") + "127.0.0.1:" +
                      std::to_string(tls ? s_source->TlsPort() : s_source->Port()) + "/live?code=4003";
    Receiver r;
    StreamClient client(url, &Receiver::OnMessage, &r);
    r.client.store(&client);
    {
      std::unique_lock<std::mutex> lock(r.mutex);
      ASSERT_TRUE(r.cv.wait_for(lock, std::chrono::seconds(60), [&] { return r.connected; }));
    }
    client.SendText("{}");
    ASSERT_TRUE(client.WaitEnded(std::chrono::seconds(60)));
    EXPECT_EQ(r.texts, std::vector<std::string>{"{\"code\":4003}"});
    EXPECT_TRUE(r.media.empty());
  }
}
