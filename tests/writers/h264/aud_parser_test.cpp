#include "writers/h264/h264_parsers.h"

#include "tests/writers/h264/parse_unit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(AudParserTest, ReadsThePrimaryPictureTypeFromTheTopThreeBits) {
  H264ParseContext ctx;
  parseUnit(ctx, std::vector<std::uint8_t>{0x09, 0xF0});  // type 7, stop bit
  EXPECT_EQ(ctx.accessUnitDelimiter().primary_pic_type, 7);
  parseUnit(ctx, std::vector<std::uint8_t>{0x09, 0x50});  // type 2
  EXPECT_EQ(ctx.accessUnitDelimiter().primary_pic_type, 2);
  parseUnit(ctx, std::vector<std::uint8_t>{0x09});        // no payload: zero bits
  EXPECT_EQ(ctx.accessUnitDelimiter().primary_pic_type, 0);
}

TEST(AudParserTest, ConsumesTheTrailingBits) {
  const std::vector<std::uint8_t> rbsp{0x30, 0xAB};
  BitReader r(rbsp.data(), rbsp.size());
  AccessUnitDelimiter aud{};
  EXPECT_TRUE(parseAccessUnitDelimiter(r, aud));
  EXPECT_EQ(aud.primary_pic_type, 1);
  EXPECT_EQ(r.bitPosition(), 8u);
}

}  // namespace
