#include "writers/h264/nal_unit.h"

#include "tests/writers/h264/bit_writer.h"
#include "tests/writers/h264/h264_samples.h"
#include "tests/writers/h264/parse_unit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename Record>
bool allZero(const Record& record) {
  static const Record zero{};
  return std::memcmp(&record, &zero, sizeof(Record)) == 0;
}

// An SPS without the high-profile fields infers 4:2:0; everything else
// that an empty payload gives is zero.
bool zeroButInferredChroma(SeqParameterSet sps) {
  if (sps.chroma_format_idc != 1) return false;
  sps.chroma_format_idc = 0;
  return allZero(sps);
}

TEST(NalUnitTest, SpsGivesThePictureSizeTheFlvWriterReads) {
  H264ParseContext ctx;
  parseNalUnit(sizeof(kHigh1080Sps), kHigh1080Sps, ctx);
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ((sps.pic_width_in_mbs_minus1 + 1) * 16, 1920);
  EXPECT_EQ((sps.pic_height_in_map_units_minus1 + 1) * 16, 1088);
}

TEST(NalUnitTest, ReadsTheHeaderAndDispatchesByType) {
  H264ParseContext ctx;
  parseUnit(ctx, kMain720Sps);
  EXPECT_EQ(ctx.nalHeader().forbidden_zero_bit, 0);
  EXPECT_EQ(ctx.nalHeader().nal_ref_idc, 3);
  EXPECT_EQ(ctx.nalHeader().nal_unit_type, 7);
  EXPECT_EQ(ctx.seqParameterSet().profile_idc, 77);
  EXPECT_TRUE(allZero(ctx.picParameterSet()));
  EXPECT_TRUE(allZero(ctx.sliceHeader()));

  parseUnit(ctx, kMain720Pps);
  EXPECT_EQ(ctx.nalHeader().nal_unit_type, 8);
  EXPECT_EQ(ctx.picParameterSet().weighted_bipred_idc, 2);
  EXPECT_TRUE(allZero(ctx.sliceHeader()));

  // Type 19 (auxiliary picture) is parsed as a slice too.
  parseUnit(ctx, Bytes{0xF3, 0x88, 0x80});
  EXPECT_EQ(ctx.nalHeader().forbidden_zero_bit, 1);
  EXPECT_EQ(ctx.nalHeader().nal_unit_type, 19);
  EXPECT_EQ(ctx.sliceHeader().slice_type, 7);
}

TEST(NalUnitTest, UnknownTypesChangeOnlyTheHeader) {
  H264ParseContext ctx;
  parseUnit(ctx, kMain720Sps);
  parseUnit(ctx, kMain720Pps);
  const SeqParameterSet spsBefore = ctx.seqParameterSet();
  const PicParameterSet ppsBefore = ctx.picParameterSet();
  for (std::uint8_t type : {0, 2, 3, 4, 6, 10, 12, 14, 20, 31}) {
    Bytes unit(kMain720Sps, kMain720Sps + sizeof(kMain720Sps));
    unit[0] = static_cast<std::uint8_t>(0x60 | type);
    parseUnit(ctx, unit);
    EXPECT_EQ(ctx.nalHeader().nal_unit_type, type);
    EXPECT_EQ(std::memcmp(&ctx.seqParameterSet(), &spsBefore, sizeof(SeqParameterSet)), 0) << int(type);
    EXPECT_EQ(std::memcmp(&ctx.picParameterSet(), &ppsBefore, sizeof(PicParameterSet)), 0) << int(type);
    EXPECT_TRUE(allZero(ctx.sliceHeader()));
    EXPECT_TRUE(allZero(ctx.accessUnitDelimiter()));
  }
}

TEST(NalUnitTest, ReturnsWhereThePayloadCopyStopped) {
  H264ParseContext ctx;
  EXPECT_EQ(parseUnit(ctx, kMain720Sps), sizeof(kMain720Sps));
  Bytes twoUnits(kMain720Pps, kMain720Pps + sizeof(kMain720Pps));
  twoUnits.insert(twoUnits.end(), {0x00, 0x00, 0x01, 0x65, 0x88});
  EXPECT_EQ(parseUnit(ctx, twoUnits), sizeof(kMain720Pps));
  EXPECT_EQ(ctx.picParameterSet().weighted_pred_flag, 1);
}

TEST(NalUnitTest, EscapedStartCodeInsideAnSpsIsPayload) {
  // profile_idc 0, flags 0, level_idc 1: the payload starts 00 00 01,
  // which the stream must carry as 00 00 03 01.
  BitWriter w;
  w.u(8, 0).u(8, 0).u(8, 1).ue(0).ue(0).ue(2).ue(1).flag(false).ue(10).ue(6).flag(true).flag(true)
      .flag(false).flag(false).trailing();
  const Bytes unit = w.nal(0x67);
  ASSERT_EQ(unit[3], 0x03);
  H264ParseContext ctx;
  EXPECT_EQ(parseUnit(ctx, unit), unit.size());
  EXPECT_EQ(ctx.seqParameterSet().profile_idc, 0);
  EXPECT_EQ(ctx.seqParameterSet().level_idc, 1);
  EXPECT_EQ(ctx.seqParameterSet().pic_width_in_mbs_minus1, 10);
  EXPECT_EQ(ctx.seqParameterSet().pic_height_in_map_units_minus1, 6);

  // Unescaped, the same bytes end the unit before its first payload byte.
  const Bytes raw = [&] { Bytes b{0x67}; const Bytes r = w.rbsp(); b.insert(b.end(), r.begin(), r.end()); return b; }();
  H264ParseContext fresh;
  EXPECT_EQ(parseUnit(fresh, raw), 1u);
  EXPECT_TRUE(zeroButInferredChroma(fresh.seqParameterSet()));
}

TEST(NalUnitTest, UnitsOfLengthZeroAndOneParseAsZeroBits) {
  H264ParseContext ctx;
  EXPECT_EQ(parseNalUnit(0, nullptr, ctx), 1u);
  EXPECT_TRUE(allZero(ctx.nalHeader()));

  for (std::uint8_t header : {0x67, 0x68, 0x09, 0x65, 0x41, 0x13}) {
    H264ParseContext one;
    EXPECT_EQ(parseUnit(one, Bytes{header}), 1u);
    EXPECT_EQ(one.nalHeader().nal_unit_type, header & 0x1F);
    if (header == 0x67) {
      EXPECT_TRUE(zeroButInferredChroma(one.seqParameterSet()));
    } else {
      EXPECT_TRUE(allZero(one.seqParameterSet())) << int(header);
    }
    EXPECT_TRUE(allZero(one.picParameterSet())) << int(header);
    EXPECT_TRUE(allZero(one.accessUnitDelimiter())) << int(header);
    EXPECT_TRUE(allZero(one.sliceHeader())) << int(header);
  }
}

TEST(NalUnitTest, EveryTruncationOfRealUnitsParses) {
  const std::vector<Bytes> stream = {
      Bytes(kInterlacedSps, kInterlacedSps + sizeof(kInterlacedSps)),
      Bytes(kInterlacedPps, kInterlacedPps + sizeof(kInterlacedPps)),
      Bytes(kInterlacedIdr, kInterlacedIdr + sizeof(kInterlacedIdr)),
      Bytes(kMain720PWeighted, kMain720PWeighted + sizeof(kMain720PWeighted)),
      Bytes(kHrdSps, kHrdSps + sizeof(kHrdSps)),
      Bytes(kCqmPps, kCqmPps + sizeof(kCqmPps)),
      Bytes(kHigh1080BNonRef, kHigh1080BNonRef + sizeof(kHigh1080BNonRef)),
  };
  H264ParseContext ctx;
  for (const Bytes& unit : stream) {
    for (std::size_t length = 0; length <= unit.size(); ++length) {
      const Bytes prefix(unit.begin(), unit.begin() + static_cast<std::ptrdiff_t>(length));
      EXPECT_LE(parseUnit(ctx, prefix), length < 2 ? 1 : length);
    }
  }
  // The complete units last parsed leave the context consistent again.
  parseUnit(ctx, kCqmPps);
  EXPECT_EQ(ctx.picParameterSet().second_chroma_qp_index_offset, -2);
  parseUnit(ctx, kHrdSps);
  EXPECT_EQ(ctx.seqParameterSet().cpb_size_value_minus1[0], 15624);
}

TEST(NalUnitTest, RandomBytesOfEveryKindParseInOneContext) {
  // Sanitizer builds turn any overflow, shift or out-of-range conversion
  // on hostile input into a failure here.
  std::mt19937 rng(20240601);
  H264ParseContext ctx;
  const std::uint8_t headers[] = {0x67, 0x68, 0x65, 0x41, 0x01, 0x09, 0x13};
  for (int round = 0; round < 20000; ++round) {
    Bytes unit(1 + rng() % 48);
    for (auto& b : unit) {
      const std::uint32_t pick = rng() % 4;
      b = static_cast<std::uint8_t>(pick == 0 ? 0x00 : pick == 1 ? 0xFF : rng() % 256);
    }
    unit[0] = headers[rng() % sizeof(headers)];
    ASSERT_LE(parseUnit(ctx, unit), unit.size() < 2 ? 1 : unit.size());
  }
}

}  // namespace
