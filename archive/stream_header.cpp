#include "archive/stream_header.h"

#include "xtd/byte_order.h"

namespace {

constexpr std::uint32_t kCodecOffset = 8;
constexpr std::uint32_t kExtraLengthOffset = 12;
constexpr std::uint32_t kExtraOffset = 16;

// Reads a 32-bit field at `pos` if it lies inside the payload, advancing pos.
bool take32(xtd::strview payload, std::uint64_t& pos, std::uint32_t& value) {
  if (pos + 4 > payload.length) return false;
  value = xtd::load_le32(payload.data + pos);
  pos += 4;
  return true;
}

bool takeBytes(xtd::strview payload, std::uint64_t& pos, std::uint32_t length, xtd::strview& out) {
  if (pos + length > payload.length) return false;
  out = xtd::strview(payload.data + pos, length);
  pos += length;
  return true;
}

}  // namespace

bool readCodec(xtd::strview payload, std::uint32_t& codec) {
  std::uint64_t pos = kCodecOffset;
  return take32(payload, pos, codec);
}

bool parseStreamHeader(xtd::strview payload, StreamHeader& out) {
  std::uint64_t pos = kCodecOffset;
  std::uint32_t extraLength = 0;
  if (!take32(payload, pos, out.codec)) return false;
  pos = kExtraLengthOffset;
  if (!take32(payload, pos, extraLength)) return false;
  pos = std::uint64_t{kExtraOffset} + extraLength;
  switch (out.codec) {
    case StreamHeader::kMjpeg:
      return take32(payload, pos, out.framesPerSecond) && take32(payload, pos, out.width) &&
             take32(payload, pos, out.height);
    case StreamHeader::kH264: {
      std::uint32_t spsLength = 0;
      std::uint32_t ppsLength = 0;
      return take32(payload, pos, spsLength) && takeBytes(payload, pos, spsLength, out.sps) &&
             take32(payload, pos, ppsLength) && takeBytes(payload, pos, ppsLength, out.pps);
    }
    default:
      return false;
  }
}
