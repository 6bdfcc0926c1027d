#pragma once
#include <cstddef>
#include <cstdint>

// SHA-1 (FIPS 180). Input after the result was taken, or beyond 2^64 bits, sets the corrupted
// flag and is ignored.
class MySHA1 {
 public:
  MySHA1() { Reset(); }
  virtual ~MySHA1() = default;

  void Reset();
  void Input(const uint8_t* data, size_t size);
  void Input(uint8_t byte) { Input(&byte, 1); }
  // false when corrupted; digest is 20 bytes big-endian.
  bool Result(uint8_t digest[20]);
  bool Corrupted() const { return m_corrupted; }

 private:
  void ProcessBlock();
  void Pad();

  uint32_t m_h[5];
  uint32_t m_lengthLow;
  uint32_t m_lengthHigh;
  uint8_t m_block[64];
  int m_blockIndex;
  bool m_computed;
  bool m_corrupted;
};
