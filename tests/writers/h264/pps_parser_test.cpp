#include "writers/h264/h264_parsers.h"

#include "tests/writers/h264/bit_writer.h"
#include "tests/writers/h264/h264_samples.h"
#include "tests/writers/h264/parse_unit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Expected values below were read off ffmpeg's trace_headers output.

TEST(PpsParserTest, BaselinePpsWithoutTheOptionalTail) {
  H264ParseContext ctx;
  EXPECT_EQ(parseUnit(ctx, kBase320Pps), sizeof(kBase320Pps));
  const PicParameterSet& pps = ctx.picParameterSet();
  EXPECT_EQ(pps.pic_parameter_set_id, 0);
  EXPECT_EQ(pps.entropy_coding_mode_flag, 0);
  EXPECT_EQ(pps.num_slice_groups_minus1, 0);
  EXPECT_EQ(pps.num_ref_idx_l0_active_minus1, 2);
  EXPECT_EQ(pps.weighted_pred_flag, 0);
  EXPECT_EQ(pps.pic_init_qp_minus26, -3);
  EXPECT_EQ(pps.chroma_qp_index_offset, -2);
  EXPECT_EQ(pps.deblocking_filter_control_present_flag, 1);
  EXPECT_EQ(pps.redundant_pic_cnt_present_flag, 0);
  // The rbsp stop bit follows: it must not be read as transform_8x8_mode_flag.
  EXPECT_EQ(pps.transform_8x8_mode_flag, 0);
}

TEST(PpsParserTest, MainPpsLeavesTheTailOfAnEarlierPpsInPlace) {
  H264ParseContext ctx;
  parseUnit(ctx, kHigh1080Pps);
  EXPECT_EQ(ctx.picParameterSet().transform_8x8_mode_flag, 1);
  parseUnit(ctx, kMain720Pps);
  const PicParameterSet& pps = ctx.picParameterSet();
  EXPECT_EQ(pps.entropy_coding_mode_flag, 1);
  EXPECT_EQ(pps.num_ref_idx_l0_active_minus1, 2);
  EXPECT_EQ(pps.num_ref_idx_l1_active_minus1, 0);
  EXPECT_EQ(pps.weighted_pred_flag, 1);
  EXPECT_EQ(pps.weighted_bipred_idc, 2);
  EXPECT_EQ(pps.pic_init_qp_minus26, -3);
  EXPECT_EQ(pps.pic_init_qs_minus26, 0);
  EXPECT_EQ(pps.redundant_pic_cnt_present_flag, 0);
  EXPECT_EQ(pps.transform_8x8_mode_flag, 1);
  EXPECT_EQ(pps.second_chroma_qp_index_offset, -2);
}

TEST(PpsParserTest, HighPpsReadsTheOptionalTail) {
  H264ParseContext ctx;
  parseUnit(ctx, kInterlacedPps);
  const PicParameterSet& pps = ctx.picParameterSet();
  EXPECT_EQ(pps.pic_order_present_flag, 1);
  EXPECT_EQ(pps.weighted_pred_flag, 0);
  EXPECT_EQ(pps.weighted_bipred_idc, 2);
  EXPECT_EQ(pps.transform_8x8_mode_flag, 1);
  EXPECT_EQ(pps.pic_scaling_matrix_present_flag, 0);
  EXPECT_EQ(pps.second_chroma_qp_index_offset, -2);
}

TEST(PpsParserTest, ScalingListsOfARealPpsKeepTheFieldAfterThem) {
  H264ParseContext ctx;
  parseUnit(ctx, kCqmPps);
  const PicParameterSet& pps = ctx.picParameterSet();
  EXPECT_EQ(pps.transform_8x8_mode_flag, 1);
  EXPECT_EQ(pps.pic_scaling_matrix_present_flag, 1);
  const int expected[8] = {1, 0, 0, 1, 0, 0, 1, 1};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(pps.pic_scaling_list_present_flag[i], expected[i]) << i;
  EXPECT_EQ(pps.second_chroma_qp_index_offset, -2);
}

// --- Synthetic sets ---

BitWriter ppsHead(std::uint32_t sliceGroupsMinus1) {
  BitWriter w;
  w.ue(1).ue(2).flag(true).flag(false).ue(sliceGroupsMinus1);
  return w;
}

BitWriter& ppsBody(BitWriter& w) {
  return w.ue(4).ue(1).flag(true).u(2, 1).se(-5).se(3).se(2).flag(true).flag(true).flag(false);
}

bool parseRbsp(const std::vector<std::uint8_t>& rbsp, PicParameterSet& pps) {
  BitReader r(rbsp.data(), rbsp.size());
  return parsePicParameterSet(r, pps);
}

void expectBody(const PicParameterSet& pps) {
  EXPECT_EQ(pps.num_ref_idx_l0_active_minus1, 4);
  EXPECT_EQ(pps.num_ref_idx_l1_active_minus1, 1);
  EXPECT_EQ(pps.weighted_pred_flag, 1);
  EXPECT_EQ(pps.weighted_bipred_idc, 1);
  EXPECT_EQ(pps.pic_init_qp_minus26, -5);
  EXPECT_EQ(pps.pic_init_qs_minus26, 3);
  EXPECT_EQ(pps.chroma_qp_index_offset, 2);
  EXPECT_EQ(pps.deblocking_filter_control_present_flag, 1);
  EXPECT_EQ(pps.constrained_intra_pred_flag, 1);
  EXPECT_EQ(pps.redundant_pic_cnt_present_flag, 0);
}

TEST(PpsParserTest, UnitEndingAfterRedundantPicCntKeepsTheTailFields) {
  BitWriter w = ppsHead(0);
  ppsBody(w);
  while (w.bits() % 8 != 0) w.flag(false);  // no stop bit, no bytes left
  PicParameterSet pps{};
  pps.transform_8x8_mode_flag = 5;
  pps.pic_scaling_matrix_present_flag = 6;
  pps.second_chroma_qp_index_offset = 7;
  ASSERT_TRUE(parseRbsp(w.rbsp(), pps));
  expectBody(pps);
  EXPECT_EQ(pps.transform_8x8_mode_flag, 5);
  EXPECT_EQ(pps.pic_scaling_matrix_present_flag, 6);
  EXPECT_EQ(pps.second_chroma_qp_index_offset, 7);
}

TEST(PpsParserTest, TailScalingListCountFollowsTheTransformFlag) {
  for (bool transform8x8 : {false, true}) {
    BitWriter w = ppsHead(0);
    ppsBody(w).flag(transform8x8).flag(true);
    const int lists = transform8x8 ? 8 : 6;
    for (int i = 0; i < lists; ++i) {
      w.flag(i % 2 == 1);
      if (i % 2 == 1) {
        for (int j = 0; j < (i < 6 ? 16 : 64); ++j) w.se(1);
      }
    }
    w.se(-9).trailing();
    PicParameterSet pps{};
    pps.pic_scaling_list_present_flag[7] = -1;
    ASSERT_TRUE(parseRbsp(w.rbsp(), pps));
    expectBody(pps);
    EXPECT_EQ(pps.transform_8x8_mode_flag, transform8x8 ? 1 : 0);
    EXPECT_EQ(pps.pic_scaling_list_present_flag[5], 1);
    EXPECT_EQ(pps.pic_scaling_list_present_flag[7], transform8x8 ? 1 : -1);
    EXPECT_EQ(pps.second_chroma_qp_index_offset, -9);
  }
}

TEST(PpsParserTest, SliceGroupMapTypesReadTheirOwnFields) {
  {
    BitWriter w = ppsHead(2);
    w.ue(0).ue(10).ue(20).ue(30);
    ppsBody(w).trailing();
    PicParameterSet pps{};
    ASSERT_TRUE(parseRbsp(w.rbsp(), pps));
    EXPECT_EQ(pps.slice_group_map_type, 0);
    EXPECT_EQ(pps.run_length_minus1[0], 10);
    EXPECT_EQ(pps.run_length_minus1[2], 30);
    expectBody(pps);
  }
  {
    BitWriter w = ppsHead(2);
    w.ue(2).ue(1).ue(2).ue(3).ue(4);
    ppsBody(w).trailing();
    PicParameterSet pps{};
    ASSERT_TRUE(parseRbsp(w.rbsp(), pps));
    EXPECT_EQ(pps.top_left[0], 1);
    EXPECT_EQ(pps.bottom_right[0], 2);
    EXPECT_EQ(pps.top_left[1], 3);
    EXPECT_EQ(pps.bottom_right[1], 4);
    expectBody(pps);
  }
  for (int type : {3, 4, 5}) {
    BitWriter w = ppsHead(1);
    w.ue(static_cast<std::uint64_t>(type)).flag(true).ue(99);
    ppsBody(w).trailing();
    PicParameterSet pps{};
    ASSERT_TRUE(parseRbsp(w.rbsp(), pps));
    EXPECT_EQ(pps.slice_group_map_type, type);
    EXPECT_EQ(pps.slice_group_change_direction_flag, 1);
    EXPECT_EQ(pps.slice_group_change_rate_minus1, 99);
    expectBody(pps);
  }
  {
    BitWriter w = ppsHead(1);
    w.ue(1);  // dispersed: no fields of its own
    ppsBody(w).trailing();
    PicParameterSet pps{};
    ASSERT_TRUE(parseRbsp(w.rbsp(), pps));
    expectBody(pps);
  }
}

TEST(PpsParserTest, ExplicitSliceGroupIdsUseCeilLog2OfTheGroupCount) {
  // Three groups need 2 bits per id, two groups 1 bit, eight groups 3 bits.
  struct Case { std::uint32_t groupsMinus1; int bits; };
  for (const Case c : {Case{2, 2}, Case{1, 1}, Case{7, 3}, Case{8, 4}}) {
    BitWriter w = ppsHead(c.groupsMinus1);
    w.ue(6).ue(4);
    for (int i = 0; i < 5; ++i) w.u(c.bits, static_cast<std::uint64_t>(i) % (c.groupsMinus1 + 1));
    ppsBody(w).trailing();
    PicParameterSet pps{};
    ASSERT_TRUE(parseRbsp(w.rbsp(), pps));
    EXPECT_EQ(pps.pic_size_in_map_units_minus1, 4);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(pps.slice_group_id[i], static_cast<std::int32_t>(static_cast<std::uint32_t>(i) % (c.groupsMinus1 + 1)));
    }
    expectBody(pps);
  }
}

struct Bound {
  int mapType;
  std::uint32_t groupsMinus1;
  std::uint32_t count;  // entries written to the stream
  bool fits;
};

TEST(PpsParserTest, SliceGroupCountsBeyondTheirArraysStopTheUnit) {
  for (const Bound b : {Bound{0, 7, 8, true}, Bound{0, 8, 9, false}, Bound{0, 0x7FFFFFFF, 9, false},
                        Bound{2, 8, 8, true}, Bound{2, 9, 9, false}}) {
    BitWriter w = ppsHead(b.groupsMinus1);
    w.ue(static_cast<std::uint64_t>(b.mapType));
    for (std::uint32_t i = 0; i < b.count; ++i) {
      w.ue(i + 1);
      if (b.mapType == 2) w.ue(i + 50);
    }
    ppsBody(w).trailing();
    PicParameterSet pps{};
    pps.num_ref_idx_l0_active_minus1 = -77;
    pps.run_length_minus1[7] = -77;
    pps.top_left[7] = -77;
    EXPECT_EQ(parseRbsp(w.rbsp(), pps), b.fits) << b.mapType << " " << b.groupsMinus1;
    if (b.fits) {
      expectBody(pps);
      EXPECT_EQ(b.mapType == 0 ? pps.run_length_minus1[7] : pps.top_left[7], 8);
    } else {
      EXPECT_EQ(pps.num_ref_idx_l0_active_minus1, -77);
      EXPECT_EQ(pps.run_length_minus1[7], -77);
      EXPECT_EQ(pps.top_left[7], -77);
    }
  }
  for (std::uint32_t sizeMinus1 : {255u, 256u, 0xFFFFFFFEu}) {
    BitWriter w = ppsHead(1);
    w.ue(6).ue(sizeMinus1);
    for (int i = 0; i < 257; ++i) w.u(1, 1);
    ppsBody(w).trailing();
    PicParameterSet pps{};
    pps.num_ref_idx_l0_active_minus1 = -77;
    const bool complete = parseRbsp(w.rbsp(), pps);
    EXPECT_EQ(pps.pic_size_in_map_units_minus1, static_cast<std::int32_t>(sizeMinus1));
    EXPECT_EQ(complete, sizeMinus1 == 255);
    EXPECT_EQ(pps.slice_group_id[255], sizeMinus1 == 255 ? 1 : 0);
    if (!complete) {
      EXPECT_EQ(pps.num_ref_idx_l0_active_minus1, -77);
    }
  }
}

TEST(PpsParserTest, HugeSliceGroupCountGivesAClampedIdWidth) {
  // 2^31 - 1 groups: the id width is 31 bits, each id read whole.
  BitWriter w = ppsHead(0x7FFFFFFE);
  w.ue(6).ue(1).u(31, 0x12345678).u(31, 0x7FFFFFFF);
  ppsBody(w).trailing();
  PicParameterSet pps{};
  ASSERT_TRUE(parseRbsp(w.rbsp(), pps));
  EXPECT_EQ(pps.slice_group_id[0], 0x12345678);
  EXPECT_EQ(pps.slice_group_id[1], 0x7FFFFFFF);
  expectBody(pps);
}

}  // namespace
