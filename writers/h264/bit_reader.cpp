#include "writers/h264/bit_reader.h"

BitReader::BitReader(const std::uint8_t* data, std::size_t length)
    : base(data), current(data), end(data + length), bitsLeft(8) {}

std::uint32_t BitReader::readBit() {
  if (current >= end) return 0;
  --bitsLeft;
  const std::uint32_t bit = (*current >> bitsLeft) & 1u;
  if (bitsLeft == 0) {
    ++current;
    bitsLeft = 8;
  }
  return bit;
}

std::uint32_t BitReader::readBits(int n) {
  if (n <= 0) return 0;
  if (n > 32) n = 32;
  std::uint32_t value = 0;
  for (int i = 0; i < n; ++i) value = (value << 1) | readBit();
  return value;
}

std::uint32_t BitReader::readUE() {
  int zeros = 0;
  while (readBit() == 0) {
    if (zeros == 32 || atEnd()) break;
    ++zeros;
  }
  // In 64 bits 2^zeros - 1 + suffix cannot overflow; the cast then keeps
  // the low 32 bits, which is the documented modulo-2^32 result.
  const std::uint64_t prefix = (std::uint64_t{1} << zeros) - 1;
  return static_cast<std::uint32_t>(prefix + readBits(zeros));
}

std::int32_t BitReader::readSE() {
  const std::uint32_t k = readUE();
  if (k & 1u) return static_cast<std::int32_t>(k / 2 + 1);
  return -static_cast<std::int32_t>(k / 2);
}

bool BitReader::moreRbspData() const {
  if (current >= end) return false;
  const std::uint8_t* last = end - 1;
  while (last > current && *last == 0) --last;
  if (*last == 0) return false;
  int stopBit = 0;  // bit index of the lowest set bit, counted from the LSB
  while (((*last >> stopBit) & 1u) == 0) ++stopBit;
  if (last > current) return true;
  // Same byte: data remains if an unread bit lies above the stop bit.
  return bitsLeft - 1 > stopBit;
}

void BitReader::skipTrailingBits() {
  if (bitsLeft == 8) return;
  readBit();
  if (bitsLeft != 8) {
    ++current;
    bitsLeft = 8;
  }
}

std::size_t BitReader::bitPosition() const {
  return static_cast<std::size_t>(current - base) * 8 + static_cast<std::size_t>(8 - bitsLeft);
}

int clampBitWidth(std::int64_t width) {
  if (width < 0) return 0;
  if (width > 32) return 32;
  return static_cast<int>(width);
}
