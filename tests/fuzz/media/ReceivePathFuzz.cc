// Bytes a stream source sends, through the client's frame decoder (fed in two pieces split where
// the first byte says) and what the channel does with each whole message up to the packet queue:
// answer codes, the media header, the packet stamped from it, the queue in drop or wait mode
// (bit 0 of the second byte). Packets are numbered on the way in so the way out can be checked.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "service/media/MediaHeader.h"
#include "service/media/MediaPacket.h"
#include "service/media/PacketQueue.h"
#include "service/media/SourceText.h"
#include "service/media/WsFraming.h"

namespace {

struct Receiver {
  explicit Receiver(bool dropMode) : dropMode(dropMode) { queue.SetDropMode(dropMode); }

  void OnMessage(const std::vector<uint8_t>& message) {
    if (message.empty()) return;
    if (IsJsonText(message.data(), message.size())) {
      SourceCode(message.data(), message.size());
      return;
    }
    auto header = ParseMediaHeader(message.data(), message.size());
    if (!header) return;
    const bool video = header->IsVideo();
    if (video) {
      description.videoCodec = static_cast<uint16_t>(header->codec);
      description.width = static_cast<uint16_t>(header->width);
      description.height = static_cast<uint16_t>(header->height);
    } else {
      description.audioCodec = static_cast<uint16_t>(header->codec);
    }
    description.frameType = header->frameType;
    description.kind = video ? 0 : 1;
    const size_t size = message.size() - kMediaHeaderSize;
    auto packet = std::make_unique<MediaPacket>(
        MakeMediaPacket(description, message.data() + kMediaHeaderSize, size));
    if (packet->payload.size() != size) __builtin_trap();
    packet->secondFrame = video && header->frameType == 0 ? 1 : 0;
    packet->frameTime = ++pushed;
    // A waiting queue would block this single thread at its limit: take one out first, as the
    // feed thread would.
    if (!dropMode && queue.Count() >= PacketQueue::kMaxSize) Take();
    queue.Push(std::move(packet));
    if (queue.Count() > PacketQueue::kMaxSize) __builtin_trap();
  }

  bool Take() {
    auto packet = queue.Pop();
    if (!packet) return false;
    // First in, first out: numbers only grow, and in wait mode none is skipped.
    if (packet->frameTime <= lastTaken) __builtin_trap();
    if (!dropMode && packet->frameTime != lastTaken + 1) __builtin_trap();
    lastTaken = packet->frameTime;
    ++taken;
    return true;
  }

  bool dropMode;
  PacketQueue queue;
  StreamDescription description{};
  uint32_t pushed = 0, taken = 0, lastTaken = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t split = 2 + data[0] % (size - 1);
  Receiver receiver((data[1] & 1) != 0);
  easywsclient::WsFrameDecoder decoder;
  decoder.Feed(data + 2, split - 2);
  size_t delivered = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (auto ev = decoder.Next(); ev.kind != easywsclient::WsEvent::kNone; ev = decoder.Next()) {
      if (ev.payload.size() > easywsclient::kMaxMessageBytes) __builtin_trap();
      delivered += ev.payload.size();
      if (ev.kind == easywsclient::WsEvent::kTooLarge) break;
      if (ev.kind == easywsclient::WsEvent::kMessage) receiver.OnMessage(ev.payload);
    }
    if (pass == 0) decoder.Feed(data + split, size - split);
  }
  // Frames carry no more payload than the bytes that came in.
  if (delivered > size) __builtin_trap();
  while (receiver.Take()) {
  }
  if (!receiver.dropMode && receiver.taken != receiver.pushed) __builtin_trap();
  return 0;
}
