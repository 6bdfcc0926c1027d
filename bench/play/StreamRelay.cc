#include "StreamRelay.h"

#include <cstdlib>
#include <deque>

#include "ProcessFigures.h"

using platform::net::IoStatus;
using platform::net::SocketHandle;

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr int kChunksPerTurn = 16;  // then the other connections get their turn
constexpr size_t kMediaHeaderSize = 36;
constexpr int kVideoKindByte = 4;  // 1 for video
constexpr int kFrameTypeByte = 29;  // 1 for a key frame

// One WebSocket frame at the start of `bytes`: its header length and payload length, or false
// while it is incomplete.
bool FrameAt(const std::string& bytes, size_t* headerSize, size_t* payloadSize) {
  if (bytes.size() < 2) return false;
  const auto b1 = static_cast<std::uint8_t>(bytes[1]);
  size_t header = 2;
  std::uint64_t length = b1 & 0x7f;
  if (length == 126) {
    header = 4;
    if (bytes.size() < header) return false;
    length = (static_cast<std::uint8_t>(bytes[2]) << 8) | static_cast<std::uint8_t>(bytes[3]);
  } else if (length == 127) {
    header = 10;
    if (bytes.size() < header) return false;
    length = 0;
    for (int i = 2; i < 10; ++i) length = (length << 8) | static_cast<std::uint8_t>(bytes[i]);
  }
  if (b1 & 0x80) header += 4;  // masking key
  if (bytes.size() < header || bytes.size() - header < length) return false;
  *headerSize = header;
  *payloadSize = static_cast<size_t>(length);
  return true;
}

// Drops an HTTP head from the front of `bytes`; false while it is incomplete.
bool SkipHead(std::string& bytes, std::uint64_t* consumed) {
  const size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  bytes.erase(0, end + 4);
  if (consumed) *consumed += end + 4;
  return true;
}

}  // namespace

struct StreamRelay::Pair {
  SocketHandle service = platform::net::kInvalidSocket;
  SocketHandle source = platform::net::kInvalidSocket;
  int pane = -1;
  // Toward the service: bytes pending from `toServiceSent` on, and where video frames end
  // (offsets counted from the first byte the source sent).
  std::string toService;
  size_t toServiceSent = 0;
  std::uint64_t serviceBytesSent = 0;
  std::deque<std::uint64_t> frameEnds;
  std::string toSource;
  size_t toSourceSent = 0;
  // The source's bytes not yet parsed, and how many were.
  std::string down;
  bool downHeadDone = false;
  std::uint64_t parsedDown = 0;
  // The service's bytes until its first text told the pane.
  std::string up;
  bool upHeadDone = false;
  bool upDone = false;
  bool dead = false;
};

StreamRelay::StreamRelay(int sourcePort, OnVideo onVideo, int captureFrames)
    : m_sourcePort(sourcePort), m_onVideo(std::move(onVideo)), m_captureFrames(captureFrames) {}

StreamRelay::~StreamRelay() { Stop(); }

bool StreamRelay::Start() {
  platform::net::NetStartup();
  m_listener = platform::net::CreateTcpSocket(platform::net::Family::kIPv4);
  if (m_listener == platform::net::kInvalidSocket ||
      !platform::net::BindLoopback(m_listener, platform::net::Family::kIPv4, 0) ||
      !platform::net::Listen(m_listener, 128) || !platform::net::SetNonBlocking(m_listener, true)) {
    return false;
  }
  m_port = platform::net::LocalPort(m_listener);
  m_waker = std::make_unique<platform::net::PollWaker>();
  m_thread = std::thread([this] { Run(); });
  return m_port > 0;
}

void StreamRelay::Stop() {
  if (m_thread.joinable()) {
    m_stop = true;
    m_waker->Wake();
    m_thread.join();
  }
  for (auto& pair : m_pairs) {
    platform::net::CloseSocket(pair->service);
    platform::net::CloseSocket(pair->source);
  }
  m_pairs.clear();
  if (m_listener != platform::net::kInvalidSocket) platform::net::CloseSocket(m_listener);
  m_listener = platform::net::kInvalidSocket;
}

std::string StreamRelay::Capture() {
  std::lock_guard<std::mutex> lock(m_captureMutex);
  return m_captured >= m_captureFrames ? m_capture : std::string();
}

void StreamRelay::Run() {
  m_tid = CurrentThreadId();
  std::vector<platform::net::PollEntry> entries;
  while (!m_stop) {
    entries.assign(2, platform::net::PollEntry{});
    entries[0].socket = m_waker->Handle();
    entries[1].socket = m_listener;
    for (auto& pair : m_pairs) {
      platform::net::PollEntry service, source;
      service.socket = pair->service;
      service.wantWrite = pair->toServiceSent < pair->toService.size();
      source.socket = pair->source;
      source.wantWrite = pair->toSourceSent < pair->toSource.size();
      entries.push_back(service);
      entries.push_back(source);
    }
    if (platform::net::Poll(entries, 200) < 0) break;
    if (entries[0].readable) m_waker->Drain();
    if (entries[1].readable) AcceptAll();
    size_t backlog = 0;
    for (size_t i = 0; i + 2 < entries.size() && i / 2 < m_pairs.size(); i += 2) {
      Pair& pair = *m_pairs[i / 2];
      const auto& service = entries[i + 2];
      const auto& source = entries[i + 3];
      bool alive = true;
      if (source.readable) alive = Pump(pair, true);
      if (alive && service.readable) alive = Pump(pair, false);
      if (alive) alive = Flush(pair, false) && Flush(pair, true);
      pair.dead = !alive;
      backlog += pair.toService.size() - pair.toServiceSent;
    }
    m_backlog = backlog;
    for (auto it = m_pairs.begin(); it != m_pairs.end();) {
      if ((*it)->dead) {
        platform::net::CloseSocket((*it)->service);
        platform::net::CloseSocket((*it)->source);
        it = m_pairs.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void StreamRelay::AcceptAll() {
  while (true) {
    SocketHandle service = platform::net::Accept(m_listener);
    if (service == platform::net::kInvalidSocket) return;
    std::string error;
    auto addresses = platform::net::Resolve("127.0.0.1", m_sourcePort, &error);
    SocketHandle source =
        addresses.empty() ? platform::net::kInvalidSocket : platform::net::ConnectTo(addresses[0], 2000);
    if (source == platform::net::kInvalidSocket) {
      platform::net::CloseSocket(service);
      continue;
    }
    for (SocketHandle s : {service, source}) {
      platform::net::SetNonBlocking(s, true);
      platform::net::SetNoDelay(s, true);
    }
    auto pair = std::make_unique<Pair>();
    pair->service = service;
    pair->source = source;
    m_pairs.push_back(std::move(pair));
  }
}

bool StreamRelay::Pump(Pair& pair, bool fromSource) {
  char chunk[kChunk];
  for (int turn = 0; turn < kChunksPerTurn; ++turn) {
    auto r = platform::net::Recv(fromSource ? pair.source : pair.service, chunk, sizeof chunk);
    if (r.status == IoStatus::kWouldBlock) return true;
    if (r.status != IoStatus::kOk) return false;
    if (fromSource) {
      pair.toService.append(chunk, r.bytes);
      pair.down.append(chunk, r.bytes);
      ParseFromSource(pair);
      // Hand it on at once: the time of the hand-over is the frame's receipt.
      if (!Flush(pair, false)) return false;
    } else {
      pair.toSource.append(chunk, r.bytes);
      if (!pair.upDone) {
        pair.up.append(chunk, r.bytes);
        ParseFromService(pair);
      }
      if (!Flush(pair, true)) return false;
    }
  }
  return true;
}

bool StreamRelay::Flush(Pair& pair, bool toSource) {
  std::string& out = toSource ? pair.toSource : pair.toService;
  size_t& sent = toSource ? pair.toSourceSent : pair.toServiceSent;
  while (sent < out.size()) {
    // Taken before the write: once it returns, the service may have read, decoded and presented
    // the frame before this thread runs again.
    const auto handedOver = std::chrono::steady_clock::now();
    auto r = platform::net::Send(toSource ? pair.source : pair.service, out.data() + sent, out.size() - sent);
    if (r.status == IoStatus::kWouldBlock) break;
    if (r.status != IoStatus::kOk) return false;
    sent += r.bytes;
    if (toSource) continue;
    pair.serviceBytesSent += r.bytes;
    while (!pair.frameEnds.empty() && pair.frameEnds.front() <= pair.serviceBytesSent) {
      if (pair.pane >= 0) m_onVideo(pair.pane, handedOver);
      pair.frameEnds.pop_front();
    }
  }
  if (sent == out.size() || sent > (1 << 20)) {
    out.erase(0, sent);
    sent = 0;
  }
  return true;
}

void StreamRelay::ParseFromSource(Pair& pair) {
  if (!pair.downHeadDone && !(pair.downHeadDone = SkipHead(pair.down, &pair.parsedDown))) return;
  size_t header = 0, payload = 0;
  while (FrameAt(pair.down, &header, &payload)) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(pair.down.data()) + header;
    const bool binary = (static_cast<std::uint8_t>(pair.down[0]) & 0x0f) == 2;
    if (binary && payload >= kMediaHeaderSize && p[kVideoKindByte] == 1) {
      pair.frameEnds.push_back(pair.parsedDown + header + payload);
      // Pane 0's stream from its first key frame, for the ffmpeg reference.
      if (pair.pane == 0 && m_captured < m_captureFrames && (m_captured > 0 || p[kFrameTypeByte] == 1)) {
        std::lock_guard<std::mutex> lock(m_captureMutex);
        m_capture.append(reinterpret_cast<const char*>(p) + kMediaHeaderSize, payload - kMediaHeaderSize);
        ++m_captured;
      }
    }
    pair.parsedDown += header + payload;
    pair.down.erase(0, header + payload);
  }
}

void StreamRelay::ParseFromService(Pair& pair) {
  if (!pair.upHeadDone && !(pair.upHeadDone = SkipHead(pair.up, nullptr))) return;
  size_t header = 0, payload = 0;
  while (!pair.upDone && FrameAt(pair.up, &header, &payload)) {
    const bool text = (static_cast<std::uint8_t>(pair.up[0]) & 0x0f) == 1;
    if (text && (static_cast<std::uint8_t>(pair.up[1]) & 0x80)) {
      std::string body = pair.up.substr(header, payload);
      const char* mask = pair.up.data() + header - 4;
      for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(body[i] ^ mask[i % 4]);
      const size_t at = body.find("\"channel\":");
      if (at != std::string::npos) pair.pane = std::atoi(body.c_str() + at + 10) - 1;
      pair.upDone = true;
      pair.up.clear();
      return;
    }
    pair.up.erase(0, header + payload);
  }
}
