#include "writers/h264/h264_parsers.h"

#include "tests/writers/h264/bit_writer.h"
#include "tests/writers/h264/h264_samples.h"
#include "tests/writers/h264/parse_unit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

// --- Slices of libx264 streams; expected values read off trace_headers ---

TEST(SliceHeaderParserTest, MainProfileIdrPBAndWeightedSlicesInStreamOrder) {
  H264ParseContext ctx;
  parseUnit(ctx, kMain720Sps);
  parseUnit(ctx, kMain720Pps);
  const SliceHeader& sh = ctx.sliceHeader();

  parseUnit(ctx, kMain720Idr);
  EXPECT_EQ(sh.first_mb_in_slice, 0);
  EXPECT_EQ(sh.slice_type, 7);
  EXPECT_EQ(sh.pic_parameter_set_id, 0);
  EXPECT_EQ(sh.frame_num, 0);
  EXPECT_EQ(sh.idr_pic_id, 0);
  EXPECT_EQ(sh.pic_order_cnt_lsb, 0);
  EXPECT_EQ(sh.no_output_of_prior_pics_flag, 0);
  EXPECT_EQ(sh.long_term_reference_flag, 0);
  EXPECT_EQ(sh.slice_qp_delta, -10);
  EXPECT_EQ(sh.disable_deblocking_filter_idc, 0);

  ctx.sliceHeader().cabac_init_idc = 9;
  parseUnit(ctx, kMain720P);
  EXPECT_EQ(sh.slice_type, 5);
  EXPECT_EQ(sh.frame_num, 1);
  EXPECT_EQ(sh.pic_order_cnt_lsb, 6);
  EXPECT_EQ(sh.num_ref_idx_active_override_flag, 1);
  EXPECT_EQ(sh.num_ref_idx_l0_active_minus1, 0);
  EXPECT_EQ(sh.ref_pic_list_reordering_flag_l0, 0);
  EXPECT_EQ(sh.luma_log2_weight_denom, 0);
  EXPECT_EQ(sh.chroma_log2_weight_denom, 0);
  EXPECT_EQ(sh.adaptive_ref_pic_marking_mode_flag, 0);
  EXPECT_EQ(sh.cabac_init_idc, 0);
  EXPECT_EQ(sh.slice_qp_delta, -10);

  ctx.sliceHeader().direct_spatial_mv_pred_flag = 0;
  ctx.sliceHeader().ref_pic_list_reordering_flag_l1 = 9;
  parseUnit(ctx, kMain720BRef);
  EXPECT_EQ(sh.slice_type, 6);
  EXPECT_EQ(sh.frame_num, 2);
  EXPECT_EQ(sh.pic_order_cnt_lsb, 2);
  EXPECT_EQ(sh.direct_spatial_mv_pred_flag, 1);
  EXPECT_EQ(sh.num_ref_idx_l0_active_minus1, 0);
  EXPECT_EQ(sh.num_ref_idx_l1_active_minus1, 0);
  EXPECT_EQ(sh.ref_pic_list_reordering_flag_l1, 0);
  EXPECT_EQ(sh.adaptive_ref_pic_marking_mode_flag, 0);
  EXPECT_EQ(sh.slice_qp_delta, -10);
  EXPECT_EQ(sh.slice_beta_offset_div2, 0);

  ctx.sliceHeader().adaptive_ref_pic_marking_mode_flag = 9;
  parseUnit(ctx, kMain720BNonRef);
  EXPECT_EQ(sh.frame_num, 3);
  EXPECT_EQ(sh.pic_order_cnt_lsb, 4);
  EXPECT_EQ(sh.num_ref_idx_l0_active_minus1, 1);
  EXPECT_EQ(sh.adaptive_ref_pic_marking_mode_flag, 9);  // nal_ref_idc 0: no marking
  EXPECT_EQ(sh.slice_qp_delta, -10);

  // Four active references override the PPS default of three: the weight
  // table must run over four entries for the fields after it to line up.
  parseUnit(ctx, kMain720PWeighted);
  EXPECT_EQ(sh.slice_type, 5);
  EXPECT_EQ(sh.frame_num, 3);
  EXPECT_EQ(sh.pic_order_cnt_lsb, 10);
  EXPECT_EQ(sh.num_ref_idx_l0_active_minus1, 3);
  EXPECT_EQ(sh.ref_pic_list_reordering_flag_l0, 1);
  EXPECT_EQ(sh.reordering_of_pic_nums_idc, 3);
  EXPECT_EQ(sh.abs_diff_pic_num_minus1, 1);
  EXPECT_EQ(sh.luma_weight_l0[1], 1);
  EXPECT_EQ(sh.luma_offset_l0[1], -1);
  EXPECT_EQ(sh.luma_weight_l0_flag, 0);  // the flag of the last entry
  EXPECT_EQ(sh.adaptive_ref_pic_marking_mode_flag, 1);
  EXPECT_EQ(sh.memory_management_control_operation, 0);
  EXPECT_EQ(sh.difference_of_pic_nums_minus1, 2);
  EXPECT_EQ(sh.cabac_init_idc, 0);
  EXPECT_EQ(sh.slice_qp_delta, -10);
  EXPECT_EQ(sh.disable_deblocking_filter_idc, 0);
}

TEST(SliceHeaderParserTest, BaselineSlicesReadNoCabacInitAndNoPocLsb) {
  H264ParseContext ctx;
  parseUnit(ctx, kBase320Sps);
  parseUnit(ctx, kBase320Pps);
  ctx.sliceHeader().pic_order_cnt_lsb = 9;
  ctx.sliceHeader().cabac_init_idc = 9;
  const SliceHeader& sh = ctx.sliceHeader();

  parseUnit(ctx, kBase320Idr);
  EXPECT_EQ(sh.slice_type, 7);
  EXPECT_EQ(sh.frame_num, 0);
  EXPECT_EQ(sh.idr_pic_id, 0);
  EXPECT_EQ(sh.slice_qp_delta, -12);

  parseUnit(ctx, kBase320P);
  EXPECT_EQ(sh.slice_type, 5);
  EXPECT_EQ(sh.frame_num, 2);
  EXPECT_EQ(sh.num_ref_idx_active_override_flag, 1);
  EXPECT_EQ(sh.num_ref_idx_l0_active_minus1, 1);
  EXPECT_EQ(sh.slice_qp_delta, -12);
  EXPECT_EQ(sh.disable_deblocking_filter_idc, 0);
  EXPECT_EQ(sh.pic_order_cnt_lsb, 9);
  EXPECT_EQ(sh.cabac_init_idc, 9);
}

TEST(SliceHeaderParserTest, MainProfileWeightsIncludeChromaWithoutAChromaFormatField) {
  // A Main SPS has no chroma_format_idc: 4:2:0 is inferred, so the weight
  // table reads chroma_log2_weight_denom and the chroma flags.
  H264ParseContext ctx;
  parseUnit(ctx, kCrop200Sps);
  parseUnit(ctx, kCrop200Pps);
  ctx.sliceHeader().chroma_weight_l0_flag = 9;
  parseUnit(ctx, kCrop200P);
  const SliceHeader& sh = ctx.sliceHeader();
  EXPECT_EQ(sh.frame_num, 1);
  EXPECT_EQ(sh.num_ref_idx_l0_active_minus1, 0);
  EXPECT_EQ(sh.chroma_weight_l0_flag, 0);
  EXPECT_EQ(sh.adaptive_ref_pic_marking_mode_flag, 0);
  EXPECT_EQ(sh.cabac_init_idc, 0);
  EXPECT_EQ(sh.slice_qp_delta, -11);
  EXPECT_EQ(sh.disable_deblocking_filter_idc, 0);
}

TEST(SliceHeaderParserTest, InterlacedSlicesReadFieldFlagAndBottomPocDelta) {
  H264ParseContext ctx;
  parseUnit(ctx, kInterlacedSps);
  parseUnit(ctx, kInterlacedPps);
  const SliceHeader& sh = ctx.sliceHeader();

  parseUnit(ctx, kInterlacedIdr);
  EXPECT_EQ(sh.field_pic_flag, 0);
  EXPECT_EQ(sh.idr_pic_id, 0);
  EXPECT_EQ(sh.pic_order_cnt_lsb, 1);
  EXPECT_EQ(sh.delta_pic_order_cnt_bottom, -1);
  EXPECT_EQ(sh.slice_qp_delta, -10);

  ctx.sliceHeader().delta_pic_order_cnt_bottom = 9;
  parseUnit(ctx, kInterlacedPReordered);
  EXPECT_EQ(sh.slice_type, 5);
  EXPECT_EQ(sh.frame_num, 3);
  EXPECT_EQ(sh.pic_order_cnt_lsb, 11);
  EXPECT_EQ(sh.delta_pic_order_cnt_bottom, -1);
  EXPECT_EQ(sh.num_ref_idx_active_override_flag, 0);
  EXPECT_EQ(sh.ref_pic_list_reordering_flag_l0, 1);
  EXPECT_EQ(sh.reordering_of_pic_nums_idc, 3);
  EXPECT_EQ(sh.abs_diff_pic_num_minus1, 1);
  EXPECT_EQ(sh.adaptive_ref_pic_marking_mode_flag, 1);
  EXPECT_EQ(sh.difference_of_pic_nums_minus1, 2);
  EXPECT_EQ(sh.slice_qp_delta, -10);
}

TEST(SliceHeaderParserTest, SliceWithEmulationPreventionBytesParses) {
  H264ParseContext ctx;
  parseUnit(ctx, kHigh1080Sps);
  parseUnit(ctx, kHigh1080Pps);
  parseUnit(ctx, kHigh1080Idr);
  EXPECT_EQ(ctx.sliceHeader().slice_type, 7);
  EXPECT_EQ(ctx.sliceHeader().slice_qp_delta, -10);
  parseUnit(ctx, kHigh1080BNonRef);
  const SliceHeader& sh = ctx.sliceHeader();
  EXPECT_EQ(ctx.nalHeader().nal_ref_idc, 0);
  EXPECT_EQ(sh.slice_type, 6);
  EXPECT_EQ(sh.frame_num, 3);
  EXPECT_EQ(sh.pic_order_cnt_lsb, 4);
  EXPECT_EQ(sh.direct_spatial_mv_pred_flag, 1);
  EXPECT_EQ(sh.num_ref_idx_l0_active_minus1, 1);
  EXPECT_EQ(sh.num_ref_idx_l1_active_minus1, 0);
  EXPECT_EQ(sh.slice_qp_delta, -10);
}

// --- Synthetic slices against records set up by hand ---

struct SliceFixture {
  NalHeader nal{0, 2, 1};
  SeqParameterSet sps{};
  PicParameterSet pps{};
  SliceHeader sh{};

  SliceFixture() {
    sps.frame_mbs_only_flag = 1;
    sps.pic_order_cnt_type = 2;
    sps.chroma_format_idc = 1;
  }
  bool parse(const BitWriter& w) {
    const std::vector<std::uint8_t> bytes = w.rbsp();
    BitReader r(bytes.data(), bytes.size());
    return parseSliceHeader(r, nal, sps, pps, sh);
  }
};

// first_mb_in_slice, slice_type, pic_parameter_set_id, then a 4-bit frame_num.
BitWriter sliceStart(std::uint64_t type, std::uint64_t frameNum = 5) {
  BitWriter w;
  w.ue(0).ue(type).ue(0).u(4, frameNum);
  return w;
}

TEST(SliceHeaderParserTest, IdrAndNonIdrReadTheirOwnMarkingFields) {
  SliceFixture f;
  f.nal.nal_unit_type = 5;
  BitWriter idr = sliceStart(7);
  idr.ue(7).flag(true).flag(true).se(-4);
  ASSERT_TRUE(f.parse(idr));
  EXPECT_EQ(f.sh.idr_pic_id, 7);
  EXPECT_EQ(f.sh.no_output_of_prior_pics_flag, 1);
  EXPECT_EQ(f.sh.long_term_reference_flag, 1);
  EXPECT_EQ(f.sh.slice_qp_delta, -4);

  f.nal.nal_unit_type = 1;
  f.sh.adaptive_ref_pic_marking_mode_flag = 9;
  BitWriter nonIdr = sliceStart(2);
  nonIdr.flag(false).se(3);
  ASSERT_TRUE(f.parse(nonIdr));
  EXPECT_EQ(f.sh.idr_pic_id, 7);
  EXPECT_EQ(f.sh.no_output_of_prior_pics_flag, 1);
  EXPECT_EQ(f.sh.long_term_reference_flag, 1);
  EXPECT_EQ(f.sh.adaptive_ref_pic_marking_mode_flag, 0);
  EXPECT_EQ(f.sh.slice_qp_delta, 3);

  f.nal.nal_ref_idc = 0;  // no marking at all
  f.sh.adaptive_ref_pic_marking_mode_flag = 9;
  BitWriter nonRef = sliceStart(2);
  nonRef.se(6);
  ASSERT_TRUE(f.parse(nonRef));
  EXPECT_EQ(f.sh.adaptive_ref_pic_marking_mode_flag, 9);
  EXPECT_EQ(f.sh.slice_qp_delta, 6);
}

TEST(SliceHeaderParserTest, FrameNumAndPocLsbWidthsComeFromTheSps) {
  SliceFixture f;
  f.nal.nal_ref_idc = 0;
  f.sps.log2_max_frame_num_minus4 = 2;
  f.sps.pic_order_cnt_type = 0;
  f.sps.log2_max_pic_order_cnt_lsb_minus4 = 5;
  BitWriter w;
  w.ue(0).ue(2).ue(0).u(6, 45).u(9, 300).se(-7);
  ASSERT_TRUE(f.parse(w));
  EXPECT_EQ(f.sh.frame_num, 45);
  EXPECT_EQ(f.sh.pic_order_cnt_lsb, 300);
  EXPECT_EQ(f.sh.slice_qp_delta, -7);
}

TEST(SliceHeaderParserTest, HugeAndNegativeBitWidthsAreClamped) {
  struct Case { std::int32_t log2Minus4; int bits; };
  const std::int32_t maxInt = std::numeric_limits<std::int32_t>::max();
  const std::int32_t minInt = std::numeric_limits<std::int32_t>::min();
  for (const Case c : {Case{28, 32}, Case{29, 32}, Case{100, 32}, Case{maxInt, 32}, Case{-1, 3},
                       Case{-4, 0}, Case{-5, 0}, Case{minInt, 0}}) {
    SliceFixture f;
    f.nal.nal_ref_idc = 0;
    f.sps.log2_max_frame_num_minus4 = c.log2Minus4;
    f.sps.pic_order_cnt_type = 0;
    f.sps.log2_max_pic_order_cnt_lsb_minus4 = c.log2Minus4;
    BitWriter w;
    const std::uint64_t mask = c.bits == 32 ? 0xFFFFFFFFull : (1ull << c.bits) - 1;
    w.ue(0).ue(2).ue(0).u(c.bits, 0xF00DFACEull & mask).u(c.bits, 0x8BADF00Dull & mask).se(-7);
    ASSERT_TRUE(f.parse(w));
    EXPECT_EQ(f.sh.frame_num, static_cast<std::int32_t>(0xF00DFACEull & mask)) << c.log2Minus4;
    EXPECT_EQ(f.sh.pic_order_cnt_lsb, static_cast<std::int32_t>(0x8BADF00Dull & mask)) << c.log2Minus4;
    EXPECT_EQ(f.sh.slice_qp_delta, -7) << c.log2Minus4;
  }
}

TEST(SliceHeaderParserTest, PocTypeOneReadsItsDeltasUnlessAlwaysZero) {
  SliceFixture f;
  f.nal.nal_ref_idc = 0;
  f.sps.pic_order_cnt_type = 1;
  f.pps.pic_order_present_flag = 1;
  BitWriter both = sliceStart(2);
  both.se(-3).se(4).se(1);
  ASSERT_TRUE(f.parse(both));
  EXPECT_EQ(f.sh.delta_pic_order_cnt[0], -3);
  EXPECT_EQ(f.sh.delta_pic_order_cnt[1], 4);
  EXPECT_EQ(f.sh.slice_qp_delta, 1);

  f.pps.pic_order_present_flag = 0;
  BitWriter one = sliceStart(2);
  one.se(8).se(2);
  ASSERT_TRUE(f.parse(one));
  EXPECT_EQ(f.sh.delta_pic_order_cnt[0], 8);
  EXPECT_EQ(f.sh.delta_pic_order_cnt[1], 4);
  EXPECT_EQ(f.sh.slice_qp_delta, 2);

  f.sps.delta_pic_order_always_zero_flag = 1;
  BitWriter none = sliceStart(2);
  none.se(-6);
  ASSERT_TRUE(f.parse(none));
  EXPECT_EQ(f.sh.delta_pic_order_cnt[0], 8);
  EXPECT_EQ(f.sh.slice_qp_delta, -6);
}

TEST(SliceHeaderParserTest, FieldSlicesSkipTheBottomDeltaAndProgressiveSlicesInferFrames) {
  SliceFixture f;
  f.nal.nal_ref_idc = 0;
  f.sps.frame_mbs_only_flag = 0;
  f.sps.pic_order_cnt_type = 0;
  f.pps.pic_order_present_flag = 1;
  f.sh.delta_pic_order_cnt_bottom = 9;
  BitWriter field = sliceStart(2);
  field.flag(true).flag(true).u(4, 3).se(5);
  ASSERT_TRUE(f.parse(field));
  EXPECT_EQ(f.sh.field_pic_flag, 1);
  EXPECT_EQ(f.sh.bottom_field_flag, 1);
  EXPECT_EQ(f.sh.pic_order_cnt_lsb, 3);
  EXPECT_EQ(f.sh.delta_pic_order_cnt_bottom, 9);
  EXPECT_EQ(f.sh.slice_qp_delta, 5);

  // The next stream is progressive: no field flag in its slices, and the
  // bottom-field delta is read again.
  f.sps.frame_mbs_only_flag = 1;
  BitWriter frame = sliceStart(2);
  frame.u(4, 6).se(-2).se(7);
  ASSERT_TRUE(f.parse(frame));
  EXPECT_EQ(f.sh.field_pic_flag, 0);
  EXPECT_EQ(f.sh.pic_order_cnt_lsb, 6);
  EXPECT_EQ(f.sh.delta_pic_order_cnt_bottom, -2);
  EXPECT_EQ(f.sh.slice_qp_delta, 7);
}

TEST(SliceHeaderParserTest, RedundantCountSpAndSiFields) {
  SliceFixture f;
  f.nal.nal_ref_idc = 0;
  f.pps.redundant_pic_cnt_present_flag = 1;
  BitWriter sp = sliceStart(8);  // SP
  sp.ue(3).flag(false).flag(false).se(-1).flag(true).se(4);
  ASSERT_TRUE(f.parse(sp));
  EXPECT_EQ(f.sh.redundant_pic_cnt, 3);
  EXPECT_EQ(f.sh.slice_qp_delta, -1);
  EXPECT_EQ(f.sh.sp_for_switch_flag, 1);
  EXPECT_EQ(f.sh.slice_qs_delta, 4);

  f.sh.sp_for_switch_flag = 9;
  f.sh.num_ref_idx_active_override_flag = 9;
  BitWriter si = sliceStart(4);  // SI: no references, no sp_for_switch_flag
  si.ue(1).se(2).se(-3);
  ASSERT_TRUE(f.parse(si));
  EXPECT_EQ(f.sh.redundant_pic_cnt, 1);
  EXPECT_EQ(f.sh.num_ref_idx_active_override_flag, 9);
  EXPECT_EQ(f.sh.slice_qp_delta, 2);
  EXPECT_EQ(f.sh.sp_for_switch_flag, 9);
  EXPECT_EQ(f.sh.slice_qs_delta, -3);
}

TEST(SliceHeaderParserTest, HugeSliceTypeIsTakenModuloFive) {
  SliceFixture f;
  f.nal.nal_ref_idc = 0;
  BitWriter w = sliceStart(0xFFFFFFFF);  // 4294967295 % 5 == 0: a P slice
  w.flag(true).ue(2).flag(false).se(3);
  ASSERT_TRUE(f.parse(w));
  EXPECT_EQ(f.sh.slice_type, -1);
  EXPECT_EQ(f.sh.num_ref_idx_active_override_flag, 1);
  EXPECT_EQ(f.sh.num_ref_idx_l0_active_minus1, 2);
  EXPECT_EQ(f.sh.slice_qp_delta, 3);
}

TEST(SliceHeaderParserTest, ReorderingAndMarkingKeepTheLastOperation) {
  SliceFixture f;
  BitWriter w = sliceStart(1);  // B
  w.flag(true).flag(false);     // direct_spatial_mv_pred_flag, no override
  w.flag(true).ue(0).ue(4).ue(2).ue(11).ue(3);    // list 0: ends with long-term 11
  w.flag(true).ue(1).ue(6).ue(3);                 // list 1: last abs diff 6
  w.flag(true);                                   // adaptive marking
  w.ue(1).ue(8).ue(2).ue(21).ue(6).ue(13).ue(4).ue(5).ue(3).ue(30).ue(31).ue(0);
  w.se(-2);
  ASSERT_TRUE(f.parse(w));
  EXPECT_EQ(f.sh.ref_pic_list_reordering_flag_l0, 1);
  EXPECT_EQ(f.sh.ref_pic_list_reordering_flag_l1, 1);
  EXPECT_EQ(f.sh.reordering_of_pic_nums_idc, 3);
  EXPECT_EQ(f.sh.abs_diff_pic_num_minus1, 6);
  EXPECT_EQ(f.sh.memory_management_control_operation, 0);
  EXPECT_EQ(f.sh.difference_of_pic_nums_minus1, 30);
  EXPECT_EQ(f.sh.long_term_pic_num, 21);
  EXPECT_EQ(f.sh.long_term_frame_idx, 31);
  EXPECT_EQ(f.sh.max_long_term_frame_idx_plus1, 5);
  EXPECT_EQ(f.sh.slice_qp_delta, -2);
}

TEST(SliceHeaderParserTest, ReorderingAndMarkingLoopsEndAtTheEndOfTheBytes) {
  // Both units end on a byte boundary right after an operation that is
  // not the terminating one; whatever follows reads as zero bits.
  SliceFixture f;
  f.sh.slice_qp_delta = 9;
  f.sps.log2_max_frame_num_minus4 = 1;
  BitWriter reorder;
  reorder.ue(0).ue(0).ue(0).u(5, 9).flag(false).flag(true).ue(1).ue(1);
  ASSERT_EQ(reorder.bits(), 16u);
  EXPECT_TRUE(f.parse(reorder));
  EXPECT_EQ(f.sh.reordering_of_pic_nums_idc, 1);
  EXPECT_EQ(f.sh.abs_diff_pic_num_minus1, 1);
  EXPECT_EQ(f.sh.slice_qp_delta, 0);

  f.sps.log2_max_frame_num_minus4 = 0;
  f.sh.slice_qp_delta = 9;
  BitWriter marking = sliceStart(2);
  marking.flag(true).ue(1).ue(2);
  ASSERT_EQ(marking.bits(), 16u);
  EXPECT_TRUE(f.parse(marking));
  EXPECT_EQ(f.sh.memory_management_control_operation, 1);
  EXPECT_EQ(f.sh.difference_of_pic_nums_minus1, 2);
  EXPECT_EQ(f.sh.slice_qp_delta, 0);
}

BitWriter& weights(BitWriter& w, int entries, bool chroma, int base) {
  for (int i = 0; i < entries; ++i) {
    const bool luma = i % 2 == 0;
    w.flag(luma);
    if (luma) w.se(base + i).se(-(base + i));
    if (chroma) {
      w.flag(true);
      for (int j = 0; j < 2; ++j) w.se(base + 10 * i + j).se(-(base + 10 * i + j));
    }
  }
  return w;
}

TEST(SliceHeaderParserTest, WeightTableRunsOverTheActiveReferencesOfBothLists) {
  // Without an override the PPS defaults count: 3 in list 0, 2 in list 1.
  SliceFixture f;
  f.nal.nal_ref_idc = 0;
  f.pps.weighted_bipred_idc = 1;
  f.pps.num_ref_idx_l0_active_minus1 = 2;
  f.pps.num_ref_idx_l1_active_minus1 = 1;
  BitWriter defaults = sliceStart(6);
  defaults.flag(false).flag(false).flag(false).flag(false).ue(5).ue(4);
  weights(defaults, 3, true, 100);
  weights(defaults, 2, true, 200);
  defaults.se(7);
  ASSERT_TRUE(f.parse(defaults));
  EXPECT_EQ(f.sh.luma_log2_weight_denom, 5);
  EXPECT_EQ(f.sh.chroma_log2_weight_denom, 4);
  EXPECT_EQ(f.sh.luma_weight_l0[2], 102);
  EXPECT_EQ(f.sh.luma_offset_l0[2], -102);
  EXPECT_EQ(f.sh.chroma_weight_l0[2][1], 121);
  EXPECT_EQ(f.sh.chroma_offset_l0[2][1], -121);
  EXPECT_EQ(f.sh.luma_weight_l1[0], 200);
  EXPECT_EQ(f.sh.chroma_weight_l1[1][0], 210);
  EXPECT_EQ(f.sh.luma_weight_l1_flag, 0);
  EXPECT_EQ(f.sh.chroma_weight_l1_flag, 1);
  EXPECT_EQ(f.sh.slice_qp_delta, 7);

  // An override of 1 and 0 shortens both lists; chroma_format_idc 0 drops chroma.
  f.sps.chroma_format_idc = 0;
  f.sh.chroma_log2_weight_denom = 9;
  BitWriter override = sliceStart(6);
  override.flag(false).flag(true).ue(1).ue(0).flag(false).flag(false).ue(2);
  weights(override, 2, false, 300);
  weights(override, 1, false, 400);
  override.se(-8);
  ASSERT_TRUE(f.parse(override));
  EXPECT_EQ(f.sh.luma_log2_weight_denom, 2);
  EXPECT_EQ(f.sh.chroma_log2_weight_denom, 9);
  EXPECT_EQ(f.sh.luma_weight_l0[0], 300);
  EXPECT_EQ(f.sh.luma_weight_l0[2], 102);  // beyond the active references
  EXPECT_EQ(f.sh.luma_weight_l1[0], 400);
  EXPECT_EQ(f.sh.slice_qp_delta, -8);
}

TEST(SliceHeaderParserTest, WeightTableCountBeyondItsArraysStopsTheUnit) {
  struct Case { bool override; std::uint32_t l0Minus1; bool fits; };
  for (const Case c : {Case{true, 63, true}, Case{true, 64, false}, Case{true, 0xFFFFFFFF, false},
                       Case{false, 63, true}, Case{false, 64, false}}) {
    SliceFixture f;
    f.nal.nal_ref_idc = 0;
    f.pps.weighted_pred_flag = 1;
    f.pps.num_ref_idx_l0_active_minus1 = c.override ? 0 : static_cast<std::int32_t>(c.l0Minus1);
    f.sh.slice_qp_delta = 99;
    f.sh.luma_weight_l0[63] = 99;
    f.sh.chroma_offset_l0[63][1] = 99;
    BitWriter w = sliceStart(5);
    w.flag(c.override);
    if (c.override) w.ue(c.l0Minus1);
    w.flag(false).ue(1).ue(1);
    weights(w, c.fits ? 64 : 65, true, 1);
    w.se(-5);
    EXPECT_EQ(f.parse(w), c.fits) << c.override << " " << c.l0Minus1;
    if (c.fits) {
      EXPECT_EQ(f.sh.luma_weight_l0[62], 63);
      EXPECT_EQ(f.sh.luma_weight_l0[63], 99);  // odd entries carry no luma weight
      EXPECT_EQ(f.sh.chroma_offset_l0[63][1], -(1 + 630 + 1));
      EXPECT_EQ(f.sh.slice_qp_delta, -5);
    } else {
      EXPECT_EQ(f.sh.chroma_offset_l0[63][1], 99);
      EXPECT_EQ(f.sh.slice_qp_delta, 99);
    }
  }
}

TEST(SliceHeaderParserTest, DeblockingIdcOneSkipsTheOffsets) {
  SliceFixture f;
  f.nal.nal_ref_idc = 0;
  f.pps.deblocking_filter_control_present_flag = 1;
  BitWriter on = sliceStart(2);
  on.se(0).ue(2).se(-3).se(3);
  ASSERT_TRUE(f.parse(on));
  EXPECT_EQ(f.sh.disable_deblocking_filter_idc, 2);
  EXPECT_EQ(f.sh.slice_alpha_c0_offset_div2, -3);
  EXPECT_EQ(f.sh.slice_beta_offset_div2, 3);

  BitWriter off = sliceStart(2);
  off.se(0).ue(1).se(6).se(6);
  ASSERT_TRUE(f.parse(off));
  EXPECT_EQ(f.sh.disable_deblocking_filter_idc, 1);
  EXPECT_EQ(f.sh.slice_alpha_c0_offset_div2, -3);
  EXPECT_EQ(f.sh.slice_beta_offset_div2, 3);
}

TEST(SliceHeaderParserTest, SliceGroupChangeCycleWidthFollowsPictureSizeOverChangeRate) {
  // 20 x 15 macroblocks = 300 map units.
  struct Case { std::int32_t rateMinus1; int bits; };
  for (const Case c : {Case{9, 5}, Case{0, 9}, Case{6, 6}, Case{299, 1}, Case{0x7FFFFFFF, 1}}) {
    SliceFixture f;
    f.nal.nal_ref_idc = 0;
    f.sps.pic_width_in_mbs_minus1 = 19;
    f.sps.pic_height_in_map_units_minus1 = 14;
    f.pps.num_slice_groups_minus1 = 1;
    f.pps.slice_group_map_type = 4;
    f.pps.slice_group_change_rate_minus1 = c.rateMinus1;
    BitWriter w = sliceStart(2);
    w.se(0).u(c.bits, 1).u(8, 0xFF);
    ASSERT_TRUE(f.parse(w));
    EXPECT_EQ(f.sh.slice_group_change_cycle, 1) << c.rateMinus1;
  }
  // Enormous pictures clamp the width to 32 bits.
  SliceFixture f;
  f.nal.nal_ref_idc = 0;
  f.sps.pic_width_in_mbs_minus1 = -1;
  f.sps.pic_height_in_map_units_minus1 = -1;
  f.pps.num_slice_groups_minus1 = 1;
  f.pps.slice_group_map_type = 3;
  BitWriter w = sliceStart(2);
  w.se(0).u(32, 0xCAFEF00D);
  ASSERT_TRUE(f.parse(w));
  EXPECT_EQ(f.sh.slice_group_change_cycle, static_cast<std::int32_t>(0xCAFEF00Du));

  // Other map types carry no change cycle.
  f.pps.slice_group_map_type = 6;
  BitWriter none = sliceStart(2);
  none.se(0).u(32, 0x12345678);
  ASSERT_TRUE(f.parse(none));
  EXPECT_EQ(f.sh.slice_group_change_cycle, static_cast<std::int32_t>(0xCAFEF00Du));
}

}  // namespace
