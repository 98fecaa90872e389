#include "writers/h264/h264_parsers.h"

bool parseAccessUnitDelimiter(BitReader& r, AccessUnitDelimiter& aud) {
  aud.primary_pic_type = static_cast<std::int32_t>(r.readBits(3));
  r.skipTrailingBits();
  return true;
}
