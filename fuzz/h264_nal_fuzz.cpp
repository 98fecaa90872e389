// Feeds arbitrary bytes to the H.264 parser three ways: as one NAL unit in
// a fresh context, as an Annex-B stream whose units share one context (so
// slices meet whatever parameter sets came before), and as the payload of
// each header-carrying kind in turn (so the slice parser sees the odd SPS
// and PPS values this very input produced).

#include "writers/h264/nal_unit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void parseAsStream(const std::uint8_t* data, std::size_t size, H264ParseContext& ctx) {
  std::size_t begin = 0;
  for (std::size_t i = 0; i + 2 < size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      if (i > begin) parseNalUnit(i - begin, data + begin, ctx);
      begin = i + 3;
      i += 2;
    }
  }
  if (size > begin) parseNalUnit(size - begin, data + begin, ctx);
}

void parseAsEveryKind(const std::uint8_t* data, std::size_t size) {
  // SPS, PPS, IDR slice, reference P/B slice, non-reference slice,
  // auxiliary slice, access unit delimiter.
  static const std::uint8_t kHeaders[] = {0x67, 0x68, 0x65, 0x41, 0x01, 0x13, 0x09};
  H264ParseContext ctx;
  std::vector<std::uint8_t> unit(size > 0 ? size : 1);
  for (std::uint8_t header : kHeaders) {
    unit[0] = header;
    for (std::size_t i = 1; i < size; ++i) unit[i] = data[i];
    parseNalUnit(unit.size(), unit.data(), ctx);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    // An exact-size copy: any read past the unit is an ASan report.
    std::vector<std::uint8_t> copy(data, data + size);
    H264ParseContext ctx;
    parseNalUnit(copy.size(), copy.data(), ctx);
  }
  {
    H264ParseContext ctx;
    parseAsStream(data, size, ctx);
  }
  parseAsEveryKind(data, size);
  return 0;
}
