#pragma once

#include <cstdint>

#include "writers/h264/avc_config.h"
#include "xtd/dstring.h"
#include "xtd/strview.h"

// Builds the bytes in front of an FLV file's first frame tag: the file
// header, the "onMetaData" script tag and the AVC sequence header tag, with
// every tag size back-patched. All integers are big-endian.
class FlvHeaderBlock {
 public:
  // Room reserved at creation, so that building a block never reallocates.
  static constexpr std::uint32_t kReserve = 0x100000;
  // The file header and the first previous-tag-size.
  static constexpr std::uint32_t kFileHeaderSize = 13;
  // The parameter-set length fields are 16 bits wide.
  static constexpr std::uint32_t kMaxParameterSetSize = kMaxAvcParameterSetSize;

  FlvHeaderBlock();

  // Appends the script tag; returns the position of the duration's eight
  // bytes (137 right after the file header), for a later putDoubleBE.
  std::uint32_t appendMetaData(std::int32_t width, std::int32_t height, double duration);

  // Appends the video tag with the AVC decoder configuration for one SPS
  // (NAL header byte included) and one PPS. Returns false and appends
  // nothing when either is longer than kMaxParameterSetSize. An SPS shorter
  // than 4 bytes gives zeros for the profile, compatibility and level bytes
  // it lacks; nothing past its end is read.
  bool appendAvcSequenceHeader(std::uint32_t spsSize, const char* sps, std::uint32_t ppsSize, const char* pps);
  bool appendAvcSequenceHeader(xtd::strview sps, xtd::strview pps) {
    return appendAvcSequenceHeader(sps.length, sps.data, pps.length, pps.data);
  }

  // Hands the bytes over; the builder is left empty.
  xtd::dstring takeBuffer();

  const xtd::dstring& buffer() const { return buffer_; }

 private:
  std::uint32_t beginTag(std::uint8_t type);
  void endTag(std::uint32_t sizePosition);

  xtd::dstring buffer_;
};

// AMF0 string body: 16-bit length, then the bytes; no type marker. False,
// with nothing appended, for text longer than 65535 bytes.
bool putAmfString(xtd::dstring& out, xtd::strview text);
// AMF0 number: marker 0x00 and the value as a big-endian double.
void putAmfNumber(xtd::dstring& out, double value);
// Overwrites the eight bytes at `position` with the big-endian double.
// False, with nothing changed, when they do not lie inside the buffer.
bool putDoubleBE(xtd::dstring& buffer, std::uint32_t position, double value);
