#pragma once

#include <cstdint>

// The 12-byte header in front of every archive record (little-endian):
// type in the low byte of the first word, the payload length in its upper
// 24 bits, then the record time as seconds and microseconds since 1970.
struct AvdRecordHeader {
  static constexpr std::uint32_t kSize = 12;
  static constexpr std::uint8_t kStreamHeader = 0;
  static constexpr std::uint8_t kLastFrameType = 2;

  std::uint8_t type = 0;
  std::uint32_t length = 0;
  std::uint32_t seconds = 0;
  std::uint32_t microseconds = 0;

  static AvdRecordHeader parse(const char* bytes);
};

inline std::uint32_t readLE32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
}

inline AvdRecordHeader AvdRecordHeader::parse(const char* bytes) {
  const std::uint32_t word = readLE32(bytes);
  AvdRecordHeader h;
  h.type = static_cast<std::uint8_t>(word & 0xFFu);
  h.length = word >> 8;
  h.seconds = readLE32(bytes + 4);
  h.microseconds = readLE32(bytes + 8);
  return h;
}
