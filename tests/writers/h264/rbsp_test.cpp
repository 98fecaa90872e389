#include "writers/h264/rbsp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Unescaped {
  std::size_t stop;
  std::vector<std::uint8_t> bytes;
};

// The output buffer is exactly one byte shorter than the unit, the most a
// copy without the header can need, so ASan sees any overrun.
Unescaped unescape(const std::vector<std::uint8_t>& unit) {
  std::vector<std::uint8_t> input(unit);
  std::vector<std::uint8_t> out(unit.empty() ? 0 : unit.size() - 1);
  const RbspCopy copy = unescapeRbsp(input.size(), input.data(), out.data());
  out.resize(copy.length);
  return {copy.stopPosition, out};
}

using Bytes = std::vector<std::uint8_t>;

TEST(RbspTest, DropsTheEmulationPreventionByte) {
  const Unescaped u = unescape({0x67, 0x00, 0x00, 0x03, 0x01, 0xAA});
  EXPECT_EQ(u.bytes, (Bytes{0x00, 0x00, 0x01, 0xAA}));
  EXPECT_EQ(u.stop, 6u);

  const Unescaped twice = unescape({0x67, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00});
  EXPECT_EQ(twice.bytes, (Bytes{0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(RbspTest, StopsAtAStartCode) {
  const Unescaped u = unescape({0x67, 0x11, 0x00, 0x00, 0x01, 0x22});
  EXPECT_EQ(u.bytes, (Bytes{0x11}));
  EXPECT_EQ(u.stop, 2u);

  const Unescaped atOnce = unescape({0x68, 0x00, 0x00, 0x01});
  EXPECT_TRUE(atOnce.bytes.empty());
  EXPECT_EQ(atOnce.stop, 1u);
}

TEST(RbspTest, CopiesOtherZeroRunsUnchanged) {
  EXPECT_EQ(unescape({0x68, 0x00, 0x00, 0x00, 0x02}).bytes, (Bytes{0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(unescape({0x68, 0x00, 0x00, 0x02}).bytes, (Bytes{0x00, 0x00, 0x02}));
  // Two zeros at the end have no third byte to test: copied as they are.
  EXPECT_EQ(unescape({0x68, 0x7F, 0x00, 0x00}).bytes, (Bytes{0x7F, 0x00, 0x00}));
  // 00 00 03 as the last three bytes still loses its 03.
  EXPECT_EQ(unescape({0x68, 0x00, 0x00, 0x03}).bytes, (Bytes{0x00, 0x00}));
}

TEST(RbspTest, UnitsShorterThanTwoBytesCopyNothing) {
  const RbspCopy none = unescapeRbsp(0, nullptr, nullptr);
  EXPECT_EQ(none.length, 0u);
  EXPECT_EQ(none.stopPosition, 1u);
  const std::uint8_t header = 0x67;
  const RbspCopy one = unescapeRbsp(1, &header, nullptr);
  EXPECT_EQ(one.length, 0u);
  EXPECT_EQ(one.stopPosition, 1u);
}

TEST(RbspTest, RandomUnitsStayInsideTheirBuffers) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    Bytes unit(1 + rng() % 40);
    // Mostly zeros and small values so that 00 00 0x patterns are common.
    for (auto& b : unit) b = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() % 256 : rng() % 4);
    const Unescaped u = unescape(unit);
    ASSERT_LE(u.stop, unit.size() < 2 ? 1 : unit.size());
    ASSERT_LE(u.bytes.size(), unit.size() - 1);
  }
}

}  // namespace
