// StreamClient: the connect/deliver/stop cycle and the attempt policy.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <thread>

#include "FakeWsServer.h"
#include "OutputCapture.h"
#include "service/media/StreamClient.h"

using namespace easywsclient;

namespace {
// What the callback saw, with a wait for the test thread.
struct Sink {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> messages;  // "" for the connected call
  StreamClient* client = nullptr;
  bool stopInCallback = false;

  static void OnMessage(const std::vector<uint8_t>& bytes, void* user) {
    auto* self = static_cast<Sink*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->messages.emplace_back(bytes.begin(), bytes.end());
    if (!bytes.empty() && self->stopInCallback) self->client->Stop();
    self->cv.notify_all();
  }
  bool WaitCount(size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(30), [&] { return messages.size() >= n; });
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return messages.size();
  }
};
}  // namespace

// Each attempt that ends without a session counts; after five the client falls quiet.
TEST(StreamClientTest, FiveAttemptsThenQuiet) {
  struct Case {
    const char* name;
    bool upgrade;  // accept the upgrade, then drop the connection
    const char* perAttempt;
  };
  const Case cases[] = {
      {"refused upgrades", false, "Link false, reconnect after 0 ms\n"},
      {"dropped sessions", true, "Ws disconnect\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OutputCapture output;
    FakeWsServer server([&](FakeWsPeer& peer) {
      peer.ReadRequest();
      if (c.upgrade) {
        peer.Accept();
      } else {
        peer.SendRaw("HTTP/1.1 503 Busy\r\n\r\n");
      }
    });
    Sink sink;
    StreamClient client(server.Url("live"), &Sink::OnMessage, &sink, std::chrono::milliseconds(0));
    ASSERT_TRUE(client.WaitEnded(std::chrono::seconds(30)));
    ASSERT_TRUE(server.WaitFinished(5));
    EXPECT_EQ(output.Count("Link err over 5 times, stop\n"), 1);
    EXPECT_EQ(output.Count(c.perAttempt), 5);
    // The thread has ended: no sixth connection can come.
    EXPECT_EQ(server.Accepted(), 5);
    EXPECT_EQ(sink.Count(), c.upgrade ? 5u : 0u);  // one "connected" call per session
  }
}

// Connected call, request text out, media in, then a stop from outside or from the callback.
TEST(StreamClientTest, SessionAndStop) {
  for (bool fromCallback : {false, true}) {
    SCOPED_TRACE(fromCallback ? "stop in callback" : "stop from another thread");
    OutputCapture output;
    std::optional<FakeWsPeer::Frame> request, close;
    FakeWsServer server([&](FakeWsPeer& peer) {
      peer.ReadRequest();
      peer.Accept();
      request = peer.ReadFrame();
      peer.SendFrame(kOpText, "{\"code\":0}");
      peer.SendFrame(kOpBinary, std::string(36, '\x01') + "frame");
      close = peer.ReadFrame();
      peer.WaitForEnd();
    });
    Sink sink;
    sink.stopInCallback = fromCallback;
    auto client = std::make_unique<StreamClient>(server.Url("live"), &Sink::OnMessage, &sink);
    {
      std::lock_guard<std::mutex> lock(sink.mutex);
      sink.client = client.get();
    }
    ASSERT_TRUE(sink.WaitCount(1));
    EXPECT_TRUE(client->SendText("{\"request\":1}"));
    ASSERT_TRUE(sink.WaitCount(fromCallback ? 2 : 3));
    if (!fromCallback) client->Stop();
    ASSERT_TRUE(output.WaitFor("Quit webSocket thread\n"));
    client.reset();
    ASSERT_TRUE(server.WaitFinished(1));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->opcode, kOpText);
    EXPECT_EQ(request->payload, "{\"request\":1}");
    ASSERT_TRUE(close);
    EXPECT_EQ(close->opcode, kOpClose);
    EXPECT_EQ(output.Count("Get stop command and send close data\n"), 1);
    EXPECT_EQ(sink.messages.at(0), "");
    EXPECT_EQ(sink.messages.at(1), "{\"code\":0}");
  }
}

// After Stop returns no delivery starts, even while the source keeps sending.
TEST(StreamClientTest, NoDeliveryAfterStop) {
  OutputCapture output;
  FakeWsServer server([&](FakeWsPeer& peer) {
    peer.ReadRequest();
    peer.Accept();
    // Until the client's close makes a send fail.
    while (peer.SendFrame(kOpBinary, std::string(2000, 'm'))) {
    }
  });
  Sink sink;
  StreamClient client(server.Url(), &Sink::OnMessage, &sink);
  ASSERT_TRUE(sink.WaitCount(20));
  client.Stop();
  size_t atStop = sink.Count();
  ASSERT_TRUE(output.WaitFor("Quit webSocket thread\n"));
  EXPECT_EQ(sink.Count(), atStop);
  EXPECT_TRUE(server.WaitFinished(1));
}

// A burst of messages, long ones before short ones and one in fragments, reaches the callback
// whole and in order however the reads cut it: reads are 64 KiB and a delivered message's storage
// is reused by the next.
TEST(StreamClientTest, BurstOfMessagesWholeAndInOrder) {
  OutputCapture output;
  const size_t sizes[] = {100000, 3, 65536, 1, 1500, 70000, 2};
  std::vector<std::string> sent;
  for (size_t i = 0; i < std::size(sizes); ++i) sent.emplace_back(sizes[i], static_cast<char>('a' + i));
  FakeWsServer server([&](FakeWsPeer& peer) {
    peer.ReadRequest();
    peer.Accept();
    for (const std::string& message : sent) peer.SendFrame(kOpBinary, message);
    peer.SendFrame(kOpBinary, "frag-", false);
    peer.SendFrame(kOpContinuation, "end");
    peer.WaitForEnd();
  });
  Sink sink;
  StreamClient client(server.Url(), &Sink::OnMessage, &sink);
  ASSERT_TRUE(sink.WaitCount(1 + sent.size() + 1));
  client.Stop();
  ASSERT_TRUE(output.WaitFor("Quit webSocket thread\n"));
  std::lock_guard<std::mutex> lock(sink.mutex);
  for (size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(sink.messages.at(1 + i) == sent[i]) << "size " << sink.messages.at(1 + i).size();
  }
  EXPECT_EQ(sink.messages.at(1 + sent.size()), "frag-end");
  EXPECT_TRUE(server.WaitFinished(1));
}

// A source that takes the connection and then never finishes its upgrade answer (silent, or one
// header line at a time for ever) neither holds a stop nor keeps the client for ever.
TEST(StreamClientTest, UnfinishedUpgradeNeitherHoldsAStopNorLastsForEver) {
  struct Case {
    const char* name;
    bool trickle;  // the status line, then a header line every 100 ms
  };
  for (const Case c : {Case{"silent", false}, Case{"trickle", true}}) {
    SCOPED_TRACE(c.name);
    OutputCapture output;
    std::atomic<bool> done{false};
    FakeWsServer server([&](FakeWsPeer& peer) {
      peer.ReadRequest();
      if (!c.trickle) return void(peer.WaitForEnd());
      peer.SendRaw("HTTP/1.1 101 Switching Protocols\r\n");
      while (!done.load() && peer.SendRaw("X-Wait: 1\r\n")) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    Sink sink;
    {
      auto client = std::make_unique<StreamClient>(server.Url("live"), &Sink::OnMessage, &sink,
                                                   std::chrono::milliseconds(0));
      while (server.Accepted() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well inside the handshake
      const auto start = std::chrono::steady_clock::now();
      client.reset();
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    }
    EXPECT_EQ(sink.Count(), 0u);
    if (c.trickle) {
      // Left alone, the attempt ends within the handshake bound and counts.
      const int before = output.CountPrefix("Link false");
      StreamClient client(server.Url("live"), &Sink::OnMessage, &sink, std::chrono::milliseconds(0));
      const auto start = std::chrono::steady_clock::now();
      while (output.CountPrefix("Link false") == before && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
      client.Stop();
    }
    done = true;
  }
}
