#include "writers/h264/nal_unit.h"

#include "writers/h264/bit_reader.h"
#include "writers/h264/h264_parsers.h"
#include "writers/h264/rbsp.h"

#include <vector>

std::size_t parseNalUnit(std::size_t length, const std::uint8_t* bytes, H264ParseContext& context) {
  NalHeader& nal = context.nalHeader();
  BitReader header(bytes, length);
  nal.forbidden_zero_bit = static_cast<std::int32_t>(header.readBits(1));
  nal.nal_ref_idc = static_cast<std::int32_t>(header.readBits(2));
  nal.nal_unit_type = static_cast<std::int32_t>(header.readBits(5));

  std::vector<std::uint8_t> payload(length);
  const RbspCopy copy = unescapeRbsp(length, bytes, payload.data());
  BitReader r(payload.data(), copy.length);
  switch (nal.nal_unit_type) {
    case 7:
      parseSeqParameterSet(r, context.seqParameterSet());
      break;
    case 1:
    case 5:
    case 19:
      parseSliceHeader(r, nal, context.seqParameterSet(), context.picParameterSet(),
                       context.sliceHeader());
      break;
    case 8:
      parsePicParameterSet(r, context.picParameterSet());
      break;
    case 9:
      parseAccessUnitDelimiter(r, context.accessUnitDelimiter());
      break;
    default:
      break;
  }
  return copy.stopPosition;
}
