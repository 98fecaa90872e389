#include "archive/record_check.h"

#include "archive/stream_header.h"
#include "xtd/byte_order.h"

namespace {

// An FLV video tag: 11-byte tag header, frame type and codec, packet type,
// composition time, the NAL units, and the 4-byte size of the tag.
constexpr std::uint32_t kTagHeader = 11;
constexpr std::uint32_t kVideoHeader = 5;
constexpr std::uint32_t kTrailer = 4;
constexpr std::uint32_t kMinTag = kTagHeader + kVideoHeader + kTrailer;
constexpr std::uint8_t kVideoTag = 9;
constexpr std::uint8_t kAvc = 7;
constexpr std::uint8_t kNalUnits = 1;
constexpr std::uint8_t kEndOfSequence = 2;
// Stream header: two words, the codec, the opaque block's length.
constexpr std::uint32_t kMinStreamHeader = 16;
constexpr std::uint32_t kMinJpeg = 4;

std::uint8_t byteAt(xtd::strview s, std::uint32_t i) { return static_cast<std::uint8_t>(s.data[i]); }

bool nalUnitsChain(const char* p, std::uint32_t n) {
  if (n == 0) return false;
  std::uint32_t at = 0;
  while (at < n) {
    if (n - at < 5) return false;
    const std::uint32_t unit = xtd::load_be32(p + at);
    // A unit of no bytes has no header; its forbidden bit must be clear.
    if (unit == 0 || unit > n - at - 4 || (static_cast<std::uint8_t>(p[at + 4]) & 0x80) != 0) return false;
    at += 4 + unit;
  }
  return true;
}

std::uint32_t minimumLength(std::uint8_t type, std::uint32_t codec) {
  if (type == AvdRecordHeader::kStreamHeader) return kMinStreamHeader;
  return codec == StreamHeader::kH264 ? kMinTag : kMinJpeg;
}

}  // namespace

bool plausibleH264Frame(xtd::strview p) {
  if (p.length < kMinTag || byteAt(p, 0) != kVideoTag) return false;
  const std::uint32_t dataSize = p.length - kTagHeader - kTrailer;
  if (xtd::load_be24(p.data + 1) != dataSize || xtd::load_be24(p.data + 8) != 0) return false;
  if (xtd::load_be32(p.data + p.length - kTrailer) != kTagHeader + dataSize) return false;
  const std::uint8_t video = byteAt(p, kTagHeader);
  const std::uint8_t frameType = video >> 4;
  if ((video & 0x0F) != kAvc || frameType == 0 || frameType > 3) return false;
  const std::uint8_t packet = byteAt(p, kTagHeader + 1);
  if (packet == kEndOfSequence) return dataSize == kVideoHeader;
  return packet == kNalUnits && nalUnitsChain(p.data + kTagHeader + kVideoHeader, dataSize - kVideoHeader);
}

bool plausibleMjpegFrame(xtd::strview p) {
  if (p.length < kMinJpeg || byteAt(p, 0) != 0xFF || byteAt(p, 1) != 0xD8 || byteAt(p, 2) != 0xFF) return false;
  std::uint32_t end = p.length;
  while (end > kMinJpeg && p.data[end - 1] == 0) --end;
  return byteAt(p, end - 2) == 0xFF && byteAt(p, end - 1) == 0xD9;
}

bool plausibleStreamHeader(xtd::strview payload) {
  StreamHeader h;
  if (!parseStreamHeader(payload, h)) return false;
  if (h.codec == StreamHeader::kMjpeg) return h.width <= 0xFFFF && h.height <= 0xFFFF && h.framesPerSecond <= 1000;
  // What the writers take: a sequence parameter set with its profile and
  // level, a picture parameter set, each within 16 bits of length.
  return h.sps.length >= 4 && h.sps.length <= 0xFFFF && (static_cast<std::uint8_t>(h.sps.data[0]) & 0x9F) == 7 &&
         h.pps.length >= 1 && h.pps.length <= 0xFFFF && (static_cast<std::uint8_t>(h.pps.data[0]) & 0x9F) == 8;
}

bool RecordCheck::header(const AvdRecordHeader& h, std::uint64_t offset, std::uint64_t size) const {
  if (h.type > AvdRecordHeader::kLastType || h.microseconds >= 1000000) return false;
  if (!anyTime) {
    const std::uint32_t apart = h.seconds > seconds ? h.seconds - seconds : seconds - h.seconds;
    if (apart > kWindowSeconds) return false;
  }
  if (h.length < minimumLength(h.type, codec)) return false;
  if (h.type == AvdRecordHeader::kStreamHeader && h.length > kMaxStreamHeader) return false;
  return offset <= size && size - offset >= std::uint64_t{AvdRecordHeader::kSize} + h.length;
}

bool RecordCheck::payloadStart(std::uint8_t type, std::uint32_t length, xtd::strview start) const {
  if (start.length < (length < kStart ? length : kStart)) return false;
  if (type == AvdRecordHeader::kStreamHeader) {
    const std::uint32_t codecWord = xtd::load_le32(start.data + 8);
    return codecWord == StreamHeader::kH264 || codecWord == StreamHeader::kMjpeg;
  }
  if (codec != StreamHeader::kH264) {
    return byteAt(start, 0) == 0xFF && byteAt(start, 1) == 0xD8 && byteAt(start, 2) == 0xFF;
  }
  return byteAt(start, 0) == kVideoTag && xtd::load_be24(start.data + 1) == length - kTagHeader - kTrailer &&
         xtd::load_be24(start.data + 8) == 0 && (byteAt(start, kTagHeader) & 0x0F) == kAvc;
}

bool RecordCheck::payload(std::uint8_t type, xtd::strview p) const {
  if (type == AvdRecordHeader::kStreamHeader) return plausibleStreamHeader(p);
  return codec == StreamHeader::kH264 ? plausibleH264Frame(p) : plausibleMjpegFrame(p);
}
