#include "common/MySHA1.h"

namespace {
uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }
}  // namespace

void MySHA1::Reset() {
  m_h[0] = 0x67452301;
  m_h[1] = 0xEFCDAB89;
  m_h[2] = 0x98BADCFE;
  m_h[3] = 0x10325476;
  m_h[4] = 0xC3D2E1F0;
  m_lengthLow = m_lengthHigh = 0;
  m_blockIndex = 0;
  m_computed = m_corrupted = false;
}

void MySHA1::Input(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (m_computed || m_corrupted) {
      m_corrupted = true;
      return;
    }
    m_block[m_blockIndex++] = data[i];
    m_lengthLow += 8;
    if (m_lengthLow == 0) {
      if (++m_lengthHigh == 0) {
        m_corrupted = true;
        return;
      }
    }
    if (m_blockIndex == 64) ProcessBlock();
  }
}

bool MySHA1::Result(uint8_t digest[20]) {
  if (m_corrupted) return false;
  if (!m_computed) {
    Pad();
    m_computed = true;
  }
  for (int i = 0; i < 5; ++i) {
    digest[i * 4] = static_cast<uint8_t>(m_h[i] >> 24);
    digest[i * 4 + 1] = static_cast<uint8_t>(m_h[i] >> 16);
    digest[i * 4 + 2] = static_cast<uint8_t>(m_h[i] >> 8);
    digest[i * 4 + 3] = static_cast<uint8_t>(m_h[i]);
  }
  return true;
}

void MySHA1::ProcessBlock() {
  static const uint32_t k[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
  uint32_t w[80];
  for (int t = 0; t < 16; ++t)
    w[t] = (uint32_t(m_block[t * 4]) << 24) | (uint32_t(m_block[t * 4 + 1]) << 16) |
           (uint32_t(m_block[t * 4 + 2]) << 8) | m_block[t * 4 + 3];
  for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  uint32_t a = m_h[0], b = m_h[1], c = m_h[2], d = m_h[3], e = m_h[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f;
    if (t < 20) f = (b & c) | (~b & d);
    else if (t < 40) f = b ^ c ^ d;
    else if (t < 60) f = (b & c) | (b & d) | (c & d);
    else f = b ^ c ^ d;
    uint32_t tmp = Rotl(a, 5) + f + e + w[t] + k[t / 20];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = tmp;
  }
  m_h[0] += a;
  m_h[1] += b;
  m_h[2] += c;
  m_h[3] += d;
  m_h[4] += e;
  m_blockIndex = 0;
}

void MySHA1::Pad() {
  m_block[m_blockIndex++] = 0x80;
  if (m_blockIndex > 56) {
    while (m_blockIndex < 64) m_block[m_blockIndex++] = 0;
    ProcessBlock();
  }
  while (m_blockIndex < 56) m_block[m_blockIndex++] = 0;
  for (int i = 0; i < 4; ++i) {
    m_block[56 + i] = static_cast<uint8_t>(m_lengthHigh >> (24 - 8 * i));
    m_block[60 + i] = static_cast<uint8_t>(m_lengthLow >> (24 - 8 * i));
  }
  ProcessBlock();
}
