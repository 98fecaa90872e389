#pragma once

#include <cstdint>

#include "xtd/byte_order.h"

// The 12-byte header in front of every archive record (little-endian):
// type in the low byte of the first word, the payload length in its upper
// 24 bits, then the record time as seconds and microseconds since 1970.
struct AvdRecordHeader {
  static constexpr std::uint32_t kSize = 12;
  static constexpr std::uint8_t kStreamHeader = 0;
  static constexpr std::uint8_t kFrame = 1;     // a picture that needs those before it
  static constexpr std::uint8_t kKeyFrame = 2;  // a picture that decodes by itself
  static constexpr std::uint8_t kLastType = kKeyFrame;

  std::uint8_t type = 0;
  std::uint32_t length = 0;
  std::uint32_t seconds = 0;
  std::uint32_t microseconds = 0;

  static AvdRecordHeader parse(const char* bytes);
};

inline AvdRecordHeader AvdRecordHeader::parse(const char* bytes) {
  const std::uint32_t word = xtd::load_le32(bytes);
  AvdRecordHeader h;
  h.type = static_cast<std::uint8_t>(word & 0xFFu);
  h.length = word >> 8;
  h.seconds = xtd::load_le32(bytes + 4);
  h.microseconds = xtd::load_le32(bytes + 8);
  return h;
}
