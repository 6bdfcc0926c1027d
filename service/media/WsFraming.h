#pragma once
// The client's side of WebSocket framing: masked frames out, a decoder for the peer's frames in.
// Pure data; the owner serialises access (the client thread for the decoder, the send mutex for
// the send buffer).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace easywsclient {

enum WsOpcode : uint8_t {
  kOpContinuation = 0x0,
  kOpText = 0x1,
  kOpBinary = 0x2,
  kOpClose = 0x8,
  kOpPing = 0x9,
  kOpPong = 0xA,
};

// Every frame this client sends is masked with these bytes.
constexpr uint8_t kMaskKey[4] = {0x5A, 0x1C, 0x7E, 0x33};
// The close frame sent by startClose: masked, empty, zero key.
constexpr uint8_t kCloseFrame[6] = {0x88, 0x80, 0x00, 0x00, 0x00, 0x00};

// Largest frame payload and assembled message accepted from a peer. A media frame is one access
// unit; a peer announcing more is treated as broken rather than buffered.
constexpr size_t kMaxMessageBytes = 32u << 20;

// Appends one final frame with the fixed mask to `out`.
void AppendClientFrame(std::vector<uint8_t>& out, uint8_t opcode, const uint8_t* data, size_t size);

struct WsEvent {
  enum Kind { kNone, kMessage, kPing, kPong, kClose, kUnexpected, kTooLarge };
  Kind kind = kNone;
  uint8_t opcode = 0;            // of the frame (for kMessage: of the first fragment)
  std::vector<uint8_t> payload;  // the whole message (kMessage) or the control payload
};

// Takes bytes as they arrive in any pieces and yields whole messages and control frames.
class WsFrameDecoder {
 public:
  // Buffered bytes not yet consumed; the reader stops reading while this is large.
  size_t Buffered() const { return m_buffer.size() - m_offset; }
  void Feed(const uint8_t* data, size_t size);
  // Next event from the buffered bytes; kNone when no whole frame is buffered. After kTooLarge
  // the stream cannot be followed any further.
  WsEvent Next();
  // Forgets everything buffered, including a message being assembled.
  void Reset();
  // Hands back a delivered message's payload, so the next message reuses its storage instead of
  // allocating its own (one allocation per media frame otherwise).
  void Recycle(std::vector<uint8_t>&& payload);

 private:
  void Compact();

  std::vector<uint8_t> m_buffer;
  size_t m_offset = 0;                // start of the unconsumed bytes in m_buffer
  std::vector<uint8_t> m_message;     // fragments assembled so far
  uint8_t m_messageOpcode = kOpBinary;
  bool m_inMessage = false;
  bool m_broken = false;
};

}  // namespace easywsclient
