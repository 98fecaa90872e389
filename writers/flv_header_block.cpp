#include "writers/flv_header_block.h"

#include <bit>
#include <cstring>

#include "writers/h264/avc_config.h"
#include "xtd/byte_order.h"

namespace {

constexpr std::uint8_t kTagScript = 18;
constexpr std::uint8_t kTagVideo = 9;
constexpr std::uint8_t kAmfNumber = 0x00;
constexpr std::uint8_t kAmfBoolean = 0x01;
constexpr std::uint8_t kAmfString = 0x02;
constexpr std::uint8_t kAmfEcmaArray = 0x08;
constexpr std::uint8_t kAmfObjectEnd = 0x09;
// Tag type, data size, timestamp, extended timestamp, stream id.
constexpr std::uint32_t kTagHeaderSize = 11;

void putByte(xtd::dstring& out, std::uint8_t b) { out.push_back(static_cast<char>(b)); }

void putBE16(xtd::dstring& out, std::uint16_t value) { xtd::store_be16(out.extend(2), value); }
void putBE24(xtd::dstring& out, std::uint32_t value) { xtd::store_be24(out.extend(3), value); }
void putBE32(xtd::dstring& out, std::uint32_t value) { xtd::store_be32(out.extend(4), value); }

void putKey(xtd::dstring& out, const char* key) {
  putAmfString(out, xtd::strview(key, static_cast<std::uint32_t>(std::strlen(key))));
}

void putTrue(xtd::dstring& out) {
  putByte(out, kAmfBoolean);
  putByte(out, 1);
}

}  // namespace

bool putAmfString(xtd::dstring& out, xtd::strview text) {
  if (text.length > 0xFFFF) return false;
  putBE16(out, text.length);
  if (text.length != 0) out.append(text);
  return true;
}

void putAmfNumber(xtd::dstring& out, double value) {
  putByte(out, kAmfNumber);
  xtd::store_be64(out.extend(8), std::bit_cast<std::uint64_t>(value));
}

bool putDoubleBE(xtd::dstring& buffer, std::uint32_t position, double value) {
  if (buffer.length() < 8 || position > buffer.length() - 8) return false;
  xtd::store_be64(buffer.data() + position, std::bit_cast<std::uint64_t>(value));
  return true;
}

FlvHeaderBlock::FlvHeaderBlock() {
  buffer_.reserve(kReserve);
  buffer_.append(xtd::strview::literal("FLV"));
  putByte(buffer_, 1);     // version
  putByte(buffer_, 0x01);  // video only
  putBE32(buffer_, 9);    // header length
  putBE32(buffer_, 0);    // previous-tag-size of the tag before the first
}

// Appends the tag type and ten zero bytes; returns where the data size goes.
std::uint32_t FlvHeaderBlock::beginTag(std::uint8_t type) {
  putByte(buffer_, type);
  const std::uint32_t sizePosition = buffer_.length();
  std::memset(buffer_.extend(kTagHeaderSize - 1), 0, kTagHeaderSize - 1);
  return sizePosition;
}

// Patches the data size and appends the previous-tag-size.
void FlvHeaderBlock::endTag(std::uint32_t sizePosition) {
  const std::uint32_t dataSize = buffer_.length() - sizePosition - (kTagHeaderSize - 1);
  xtd::store_be24(buffer_.data() + sizePosition, dataSize);
  putBE32(buffer_, dataSize + kTagHeaderSize);
}

std::uint32_t FlvHeaderBlock::appendMetaData(std::int32_t width, std::int32_t height, double duration) {
  const std::uint32_t sizePosition = beginTag(kTagScript);
  putByte(buffer_, kAmfString);
  putKey(buffer_, "onMetaData");
  putByte(buffer_, kAmfEcmaArray);
  putBE32(buffer_, 7);
  putKey(buffer_, "hasVideo");
  putTrue(buffer_);
  putKey(buffer_, "hasKeyframes");
  putTrue(buffer_);
  putKey(buffer_, "width");
  putAmfNumber(buffer_, static_cast<double>(width));
  putKey(buffer_, "height");
  putAmfNumber(buffer_, static_cast<double>(height));
  putKey(buffer_, "videocodecid");
  putAmfNumber(buffer_, 7.0);
  putKey(buffer_, "duration");
  const std::uint32_t durationPosition = buffer_.length() + 1;  // after the marker
  putAmfNumber(buffer_, duration);
  putKey(buffer_, "hasMetadata");
  putTrue(buffer_);
  putBE24(buffer_, kAmfObjectEnd);  // 00 00 09
  endTag(sizePosition);
  return durationPosition;
}

bool FlvHeaderBlock::appendAvcSequenceHeader(std::uint32_t spsSize, const char* sps, std::uint32_t ppsSize,
                                             const char* pps) {
  if (spsSize > kMaxParameterSetSize || ppsSize > kMaxParameterSetSize) return false;
  const std::uint32_t sizePosition = beginTag(kTagVideo);
  putByte(buffer_, 0x17);  // key frame, AVC
  putByte(buffer_, 0);     // sequence header
  putBE24(buffer_, 0);    // composition time
  appendAvcDecoderConfiguration(buffer_, xtd::strview(sps, spsSize), xtd::strview(pps, ppsSize));
  endTag(sizePosition);
  return true;
}

xtd::dstring FlvHeaderBlock::takeBuffer() {
  xtd::dstring taken;
  taken.swap(buffer_);
  return taken;
}
