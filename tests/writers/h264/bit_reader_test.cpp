#include "writers/h264/bit_reader.h"

#include "tests/writers/h264/bit_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

BitReader readerOver(const std::vector<std::uint8_t>& bytes) {
  return BitReader(bytes.data(), bytes.size());
}

TEST(BitReaderTest, ReadsBitsMostSignificantFirstAcrossBytes) {
  const std::vector<std::uint8_t> bytes{0xA5, 0x3C, 0xFF, 0x01, 0x80};
  BitReader r = readerOver(bytes);
  EXPECT_EQ(r.readBit(), 1u);
  EXPECT_EQ(r.readBit(), 0u);
  EXPECT_EQ(r.readBits(3), 0x4u);           // 100
  EXPECT_EQ(r.readBits(7), 0x53u);          // 101 0011
  EXPECT_EQ(r.readBits(4), 0xCu);
  EXPECT_EQ(r.readBits(16), 0xFF01u);
  EXPECT_EQ(r.bitPosition(), 32u);
  EXPECT_EQ(r.readBits(1), 1u);
}

TEST(BitReaderTest, ReadsThirtyTwoBitsInOneCall) {
  const std::vector<std::uint8_t> bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x80};
  BitReader r = readerOver(bytes);
  r.readBit();
  EXPECT_EQ(r.readBits(32), 0xBD5B7DDFu);  // 0xDEADBEEF80 shifted left by one bit
}

TEST(BitReaderTest, ReadsZeroBitsPastTheEndWithoutMoving) {
  const std::vector<std::uint8_t> bytes{0xFF};
  BitReader r = readerOver(bytes);
  EXPECT_EQ(r.readBits(5), 0x1Fu);
  EXPECT_EQ(r.readBits(8), 0xE0u);  // three real bits, then zeros
  EXPECT_TRUE(r.atEnd());
  EXPECT_EQ(r.bitPosition(), 8u);
  EXPECT_EQ(r.readBit(), 0u);
  EXPECT_EQ(r.readBits(32), 0u);
  EXPECT_EQ(r.readUE(), 0u);
  EXPECT_EQ(r.readSE(), 0);
  EXPECT_EQ(r.bitPosition(), 8u);
  EXPECT_EQ(r.current, r.end);

  BitReader empty(nullptr, 0);
  EXPECT_TRUE(empty.atEnd());
  EXPECT_EQ(empty.readBits(32), 0u);
  EXPECT_EQ(empty.readUE(), 0u);
  EXPECT_EQ(empty.bitPosition(), 0u);
}

TEST(BitReaderTest, ClampsBitWidthsToZeroThroughThirtyTwo) {
  const std::vector<std::uint8_t> bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  BitReader r = readerOver(bytes);
  EXPECT_EQ(r.readBits(0), 0u);
  EXPECT_EQ(r.readBits(-1), 0u);
  EXPECT_EQ(r.readBits(std::numeric_limits<int>::min()), 0u);
  EXPECT_EQ(r.bitPosition(), 0u);
  EXPECT_EQ(r.readBits(40), 0xFFFFFFFFu);
  EXPECT_EQ(r.bitPosition(), 32u);
  EXPECT_EQ(r.readBits(std::numeric_limits<int>::max()), 0xFFFF0000u);
  EXPECT_EQ(r.bitPosition(), 48u);

  EXPECT_EQ(clampBitWidth(-1), 0);
  EXPECT_EQ(clampBitWidth(std::numeric_limits<std::int64_t>::min()), 0);
  EXPECT_EQ(clampBitWidth(0), 0);
  EXPECT_EQ(clampBitWidth(17), 17);
  EXPECT_EQ(clampBitWidth(32), 32);
  EXPECT_EQ(clampBitWidth(33), 32);
  EXPECT_EQ(clampBitWidth(std::int64_t{std::numeric_limits<std::int32_t>::max()} + 4), 32);
}

TEST(BitReaderTest, DecodesExpGolombCodes) {
  // 1 | 010 | 011 | 00100 | 00111 | 0001000 -> 0, 1, 2, 3, 6, 7
  const std::vector<std::uint8_t> bytes = BitWriter()
                                              .u(1, 1)
                                              .u(3, 0b010)
                                              .u(3, 0b011)
                                              .u(5, 0b00100)
                                              .u(5, 0b00111)
                                              .u(7, 0b0001000)
                                              .rbsp();
  BitReader r = readerOver(bytes);
  EXPECT_EQ(r.readUE(), 0u);
  EXPECT_EQ(r.readUE(), 1u);
  EXPECT_EQ(r.readUE(), 2u);
  EXPECT_EQ(r.readUE(), 3u);
  EXPECT_EQ(r.readUE(), 6u);
  EXPECT_EQ(r.readUE(), 7u);
  EXPECT_EQ(r.bitPosition(), 24u);
}

TEST(BitReaderTest, MapsSignedExpGolombCodesAlternately) {
  const std::vector<std::uint8_t> bytes = BitWriter().ue(0).ue(1).ue(2).ue(3).ue(4).ue(255).ue(256).rbsp();
  BitReader r = readerOver(bytes);
  EXPECT_EQ(r.readSE(), 0);
  EXPECT_EQ(r.readSE(), 1);
  EXPECT_EQ(r.readSE(), -1);
  EXPECT_EQ(r.readSE(), 2);
  EXPECT_EQ(r.readSE(), -2);
  EXPECT_EQ(r.readSE(), 128);
  EXPECT_EQ(r.readSE(), -128);
}

TEST(BitReaderTest, ExpGolombWithThirtyTwoZerosWrapsModulo2To32) {
  // 32 zeros, the marker 1, then a 32-bit suffix: 2^32 - 1 + suffix wraps.
  const std::vector<std::uint8_t> bytes = BitWriter()
                                              .zeros(32).u(1, 1).u(32, 0)
                                              .zeros(32).u(1, 1).u(32, 5)
                                              .zeros(32).u(1, 1).u(32, 0xFFFFFFFF)
                                              .zeros(32).u(1, 1).u(32, 0)
                                              .u(8, 0xA5)
                                              .rbsp();
  BitReader r = readerOver(bytes);
  EXPECT_EQ(r.readUE(), 0xFFFFFFFFu);
  EXPECT_EQ(r.readUE(), 4u);
  EXPECT_EQ(r.readUE(), 0xFFFFFFFEu);
  // As a signed code, 2^32 - 1 maps to +2^31, which wraps to INT32_MIN.
  EXPECT_EQ(r.readSE(), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(r.readBits(8), 0xA5u);
}

TEST(BitReaderTest, ExpGolombConsumesButDoesNotCountAZeroBeyondThirtyTwo) {
  // 40 zeros: the prefix stops at 32, the 33rd zero is consumed, and the
  // next 32 bits (7 zeros, then 1 and 24 ones) form the suffix.
  const std::vector<std::uint8_t> bytes = BitWriter().zeros(40).u(25, 0x1FFFFFF).u(8, 0x3C).rbsp();
  BitReader r = readerOver(bytes);
  EXPECT_EQ(r.readUE(), 0x1FFFFFEu);  // (2^32 - 1 + 0x1FFFFFF) mod 2^32
  EXPECT_EQ(r.bitPosition(), 65u);
  EXPECT_EQ(r.readBits(8), 0x3Cu);
}

TEST(BitReaderTest, ExpGolombPrefixStopsAtTheEndOfTheBytes) {
  BitReader none(nullptr, 0);
  EXPECT_EQ(none.readUE(), 0u);

  // Seven zeros count; the eighth meets the end and is consumed uncounted.
  const std::vector<std::uint8_t> zero{0x00};
  BitReader r = readerOver(zero);
  EXPECT_EQ(r.readUE(), 127u);
  EXPECT_TRUE(r.atEnd());

  const std::vector<std::uint8_t> one{0x01};  // seven zeros, marker, no suffix bits left
  BitReader s = readerOver(one);
  EXPECT_EQ(s.readUE(), 127u);
  EXPECT_TRUE(s.atEnd());
}

TEST(BitReaderTest, FindsRemainingDataBeforeTheStopBit) {
  const std::vector<std::uint8_t> onlyStop{0x80};
  EXPECT_FALSE(readerOver(onlyStop).moreRbspData());

  const std::vector<std::uint8_t> oneByte{0xA0};  // 1 0 | stop bit 1 | 00000
  BitReader r = readerOver(oneByte);
  EXPECT_TRUE(r.moreRbspData());
  r.readBits(2);
  EXPECT_FALSE(r.moreRbspData());

  const std::vector<std::uint8_t> twoBytes{0x12, 0x80, 0x00, 0x00};  // trailing zero bytes
  BitReader t = readerOver(twoBytes);
  t.readBits(7);
  EXPECT_TRUE(t.moreRbspData());
  t.readBit();
  EXPECT_FALSE(t.moreRbspData());

  const std::vector<std::uint8_t> zeros{0x00, 0x00};
  EXPECT_FALSE(readerOver(zeros).moreRbspData());
  EXPECT_FALSE(BitReader(nullptr, 0).moreRbspData());
}

TEST(BitReaderTest, SkipsTrailingBitsToTheNextByteBoundary) {
  const std::vector<std::uint8_t> bytes{0xF0, 0x80, 0x55};
  BitReader r = readerOver(bytes);
  r.skipTrailingBits();
  EXPECT_EQ(r.bitPosition(), 0u);
  r.readBits(3);
  r.skipTrailingBits();
  EXPECT_EQ(r.bitPosition(), 8u);
  r.readBits(7);
  r.skipTrailingBits();
  EXPECT_EQ(r.bitPosition(), 16u);
  EXPECT_EQ(r.readBits(8), 0x55u);
  r.skipTrailingBits();
  EXPECT_EQ(r.bitPosition(), 24u);
  EXPECT_TRUE(r.atEnd());
}

}  // namespace
