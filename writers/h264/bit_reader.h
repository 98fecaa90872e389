#pragma once

#include <cstddef>
#include <cstdint>

// MSB-first reader over an H.264 RBSP. Reading at or past the end yields
// zero bits and leaves the reader where it is, so a truncated unit parses
// as if it were padded with zeros.
struct BitReader {
  const std::uint8_t* base;
  const std::uint8_t* current;
  const std::uint8_t* end;
  int bitsLeft;  // unread bits of *current, 8 for a fresh byte

  BitReader(const std::uint8_t* data, std::size_t length);

  std::uint32_t readBit();
  // n <= 0 reads nothing and gives 0; n above 32 reads 32 bits.
  std::uint32_t readBits(int n);
  // Exp-Golomb code with at most 32 leading zeros. The value is
  // 2^n - 1 + readBits(n) taken modulo 2^32, so 32 leading zeros give
  // readBits(32) - 1 wrapped into unsigned 32-bit range.
  std::uint32_t readUE();
  // Signed mapping of readUE: 1, -1, 2, -2, ... for codes 1, 2, 3, 4;
  // code 2^32 - 1 maps to +2^31, which wraps to INT32_MIN.
  std::int32_t readSE();

  bool atEnd() const { return current >= end; }
  // True while bits remain before the rbsp_stop_one_bit (the last set bit
  // of the payload); trailing zero bytes do not count as data.
  bool moreRbspData() const;
  // rbsp_trailing_bits without checks: off a byte boundary, read the stop
  // bit and skip to the next boundary.
  void skipTrailingBits();
  std::size_t bitPosition() const;
};

// Clamps a bit width derived from stream values to the 0..32 readBits accepts.
int clampBitWidth(std::int64_t width);
