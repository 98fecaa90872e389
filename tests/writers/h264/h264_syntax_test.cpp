#include "writers/h264/h264_syntax.h"

#include "tests/writers/h264/bit_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

TEST(H264SyntaxTest, CeilLog2WidthIsTheSmallestPowerOfTwoCover) {
  EXPECT_EQ(ceilLog2Width(1), 0);
  EXPECT_EQ(ceilLog2Width(2), 1);
  EXPECT_EQ(ceilLog2Width(3), 2);
  EXPECT_EQ(ceilLog2Width(4), 2);
  EXPECT_EQ(ceilLog2Width(5), 3);
  EXPECT_EQ(ceilLog2Width(8), 3);
  EXPECT_EQ(ceilLog2Width(31), 5);
  EXPECT_EQ(ceilLog2Width(256), 8);
  EXPECT_EQ(ceilLog2Width(2.5), 2);
  // log(x) / log(2) rounds above the integer at these two powers.
  EXPECT_EQ(ceilLog2Width(std::ldexp(1.0, 29)), 29);
  EXPECT_EQ(ceilLog2Width(std::ldexp(1.0, 31)), 31);
  EXPECT_EQ(ceilLog2Width(std::ldexp(1.0, 29) + 1), 30);
}

TEST(H264SyntaxTest, CeilLog2WidthGuardsNonPositiveAndHugeValues) {
  EXPECT_EQ(ceilLog2Width(0), 0);
  EXPECT_EQ(ceilLog2Width(0.5), 0);
  EXPECT_EQ(ceilLog2Width(-1), 0);
  EXPECT_EQ(ceilLog2Width(-1e300), 0);
  EXPECT_EQ(ceilLog2Width(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(ceilLog2Width(std::ldexp(1.0, 32)), 32);
  EXPECT_EQ(ceilLog2Width(std::ldexp(1.0, 32) + 1), 32);
  EXPECT_EQ(ceilLog2Width(1e300), 32);
  EXPECT_EQ(ceilLog2Width(std::numeric_limits<double>::infinity()), 32);
}

std::size_t bitsReadByScalingList(const std::vector<std::uint8_t>& bytes, int size) {
  BitReader r(bytes.data(), bytes.size());
  readScalingList(r, size);
  return r.bitPosition();
}

TEST(H264SyntaxTest, ScalingListReadsADeltaPerCoefficientUntilNextIsZero) {
  // Sixteen zero deltas keep every coefficient at 8: one bit each.
  BitWriter flat;
  for (int i = 0; i < 16; ++i) flat.se(0);
  EXPECT_EQ(bitsReadByScalingList(flat.u(8, 0xFF).rbsp(), 16), 16u);

  // A first delta of -8 makes next 0 (use the default list): one code only.
  BitWriter useDefault;
  useDefault.se(-8).u(8, 0xFF);
  EXPECT_EQ(bitsReadByScalingList(useDefault.rbsp(), 16), 9u);

  // Deltas wrap modulo 256: 8 + 100 = 108, then 108 + 148 = 256 -> 0 stops
  // further reads with 62 coefficients of a 64-list still to go.
  BitWriter wraps;
  wraps.se(100).se(148).u(8, 0xFF);
  const std::size_t expected = BitWriter().se(100).se(148).bits();
  EXPECT_EQ(bitsReadByScalingList(wraps.rbsp(), 64), expected);

  // A negative sum stops too: 8 - 264 = -256, remainder 0.
  BitWriter negative;
  negative.se(-264).u(8, 0xFF);
  EXPECT_EQ(bitsReadByScalingList(negative.rbsp(), 64), BitWriter().se(-264).bits());
}

TEST(H264SyntaxTest, ScalingListSurvivesExtremeDeltas) {
  // INT32_MIN and INT32_MAX deltas must not overflow; neither sums to 0 mod 256.
  BitWriter extreme;
  extreme.zeros(32).u(1, 1).u(32, 0);           // code 2^32 - 1: INT32_MIN
  extreme.ue(0xFFFFFFFEull);                    // -(2^31 - 1)
  for (int i = 2; i < 16; ++i) extreme.se(0);
  const std::vector<std::uint8_t> bytes = extreme.u(8, 0xFF).rbsp();
  EXPECT_EQ(bitsReadByScalingList(bytes, 16), extreme.bits() - 8);
}

}  // namespace
