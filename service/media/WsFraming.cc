#include "service/media/WsFraming.h"

#include <cstring>

namespace easywsclient {

void AppendClientFrame(std::vector<uint8_t>& out, uint8_t opcode, const uint8_t* data, size_t size) {
  uint8_t header[14];
  size_t n = 0;
  header[n++] = static_cast<uint8_t>(0x80 | (opcode & 0x0F));
  if (size < 126) {
    header[n++] = static_cast<uint8_t>(0x80 | size);
  } else if (size < 65536) {
    header[n++] = 0x80 | 126;
    header[n++] = static_cast<uint8_t>(size >> 8);
    header[n++] = static_cast<uint8_t>(size);
  } else {
    header[n++] = 0x80 | 127;
    uint64_t len = size;
    for (int i = 7; i >= 0; --i) header[n++] = static_cast<uint8_t>(len >> (8 * i));
  }
  std::memcpy(header + n, kMaskKey, 4);
  n += 4;
  size_t start = out.size();
  out.insert(out.end(), header, header + n);
  out.insert(out.end(), data, data + size);
  uint8_t* p = out.data() + start + n;
  for (size_t i = 0; i < size; ++i) p[i] ^= kMaskKey[i & 3];
}

void WsFrameDecoder::Feed(const uint8_t* data, size_t size) {
  if (m_broken || size == 0) return;
  Compact();
  m_buffer.insert(m_buffer.end(), data, data + size);
}

void WsFrameDecoder::Compact() {
  if (m_offset == 0) return;
  m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_offset));
  m_offset = 0;
}

void WsFrameDecoder::Recycle(std::vector<uint8_t>&& payload) {
  if (m_inMessage || payload.capacity() <= m_message.capacity()) return;
  m_message = std::move(payload);
  m_message.clear();
}

void WsFrameDecoder::Reset() {
  m_buffer.clear();
  m_offset = 0;
  m_message.clear();
  m_inMessage = false;
  m_broken = false;
}

WsEvent WsFrameDecoder::Next() {
  WsEvent ev;
  for (;;) {
    if (m_broken) return ev;
    const uint8_t* p = m_buffer.data() + m_offset;
    size_t avail = m_buffer.size() - m_offset;
    if (avail < 2) return ev;
    bool fin = (p[0] & 0x80) != 0;
    uint8_t opcode = p[0] & 0x0F;
    bool masked = (p[1] & 0x80) != 0;
    uint64_t length = p[1] & 0x7F;
    size_t header = 2;
    if (length == 126) {
      if (avail < 4) return ev;
      length = (uint64_t{p[2]} << 8) | p[3];
      header = 4;
    } else if (length == 127) {
      if (avail < 10) return ev;
      length = 0;
      for (int i = 0; i < 8; ++i) length = (length << 8) | p[2 + i];
      header = 10;
    }
    bool data = opcode == kOpContinuation || opcode == kOpText || opcode == kOpBinary;
    size_t pending = data ? m_message.size() : 0;
    if (length > kMaxMessageBytes || pending + length > kMaxMessageBytes) {
      m_broken = true;
      ev.kind = WsEvent::kTooLarge;
      ev.opcode = opcode;
      return ev;
    }
    const size_t keyAt = header;
    if (masked) header += 4;
    if (avail < header + length) return ev;

    const uint8_t* body = p + header;
    const size_t size = static_cast<size_t>(length);
    auto unmaskInto = [&](std::vector<uint8_t>& out) {
      size_t start = out.size();
      out.insert(out.end(), body, body + size);
      if (masked) {
        for (size_t i = 0; i < size; ++i) out[start + i] ^= p[keyAt + (i & 3)];
      }
    };
    m_offset += header + size;

    if (data) {
      if (!m_inMessage) {
        m_inMessage = true;
        m_messageOpcode = opcode == kOpContinuation ? uint8_t{kOpBinary} : opcode;
      }
      unmaskInto(m_message);
      if (!fin) continue;
      ev.kind = WsEvent::kMessage;
      ev.opcode = m_messageOpcode;
      ev.payload.swap(m_message);
      m_message.clear();
      m_inMessage = false;
      return ev;
    }
    ev.opcode = opcode;
    switch (opcode) {
      case kOpPing:
        ev.kind = WsEvent::kPing;
        unmaskInto(ev.payload);
        return ev;
      case kOpPong:
        ev.kind = WsEvent::kPong;
        return ev;
      case kOpClose:
        ev.kind = WsEvent::kClose;
        return ev;
      default:
        ev.kind = WsEvent::kUnexpected;
        return ev;
    }
  }
}

}  // namespace easywsclient
