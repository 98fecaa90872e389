#include "writers/h264/h264_parsers.h"
#include "writers/h264/picture_size.h"

#include "tests/writers/h264/bit_writer.h"
#include "tests/writers/h264/h264_samples.h"
#include "tests/writers/h264/parse_unit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

std::int32_t widthOf(const SeqParameterSet& sps) {
  std::int32_t width = 0, height = 0;
  codedPictureSize(sps, width, height);
  return width;
}

std::int32_t heightOf(const SeqParameterSet& sps) {
  std::int32_t width = 0, height = 0;
  codedPictureSize(sps, width, height);
  return height;
}

// Expected values below were read off ffmpeg's trace_headers output.

TEST(SpsParserTest, BaselineSpsFromLibx264) {
  H264ParseContext ctx;
  EXPECT_EQ(parseUnit(ctx, kBase320Sps), sizeof(kBase320Sps));
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ(sps.profile_idc, 66);
  EXPECT_EQ(sps.constraint_set0_flag, 1);
  EXPECT_EQ(sps.constraint_set1_flag, 1);
  EXPECT_EQ(sps.constraint_set2_flag, 0);
  EXPECT_EQ(sps.level_idc, 13);
  EXPECT_EQ(sps.chroma_format_idc, 1);  // inferred for a non-high profile
  EXPECT_EQ(sps.log2_max_frame_num_minus4, 0);
  EXPECT_EQ(sps.pic_order_cnt_type, 2);
  EXPECT_EQ(sps.num_ref_frames, 3);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 19);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 14);
  EXPECT_EQ(widthOf(sps), 320);
  EXPECT_EQ(heightOf(sps), 240);
  EXPECT_EQ(sps.frame_mbs_only_flag, 1);
  EXPECT_EQ(sps.frame_cropping_flag, 0);
  EXPECT_EQ(sps.vui_parameters_present_flag, 1);
  EXPECT_EQ(sps.aspect_ratio_idc, 1);
  EXPECT_EQ(sps.timing_info_present_flag, 1);
  EXPECT_EQ(sps.num_units_in_tick, 1);
  EXPECT_EQ(sps.time_scale, 50);
  EXPECT_EQ(sps.log2_max_mv_length_horizontal, 9);
  EXPECT_EQ(sps.num_reorder_frames, 0);
  EXPECT_EQ(sps.max_dec_frame_buffering, 3);
}

TEST(SpsParserTest, MainSps720pSkipsTheHighProfileFields) {
  H264ParseContext ctx;
  parseUnit(ctx, kMain720Sps);
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ(sps.profile_idc, 77);
  EXPECT_EQ(sps.constraint_set1_flag, 1);
  EXPECT_EQ(sps.level_idc, 31);
  EXPECT_EQ(sps.pic_order_cnt_type, 0);
  EXPECT_EQ(sps.log2_max_pic_order_cnt_lsb_minus4, 2);
  EXPECT_EQ(sps.num_ref_frames, 4);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 79);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 44);
  EXPECT_EQ(widthOf(sps), 1280);
  EXPECT_EQ(heightOf(sps), 720);
  EXPECT_EQ(sps.time_scale, 50);
  EXPECT_EQ(sps.log2_max_mv_length_horizontal, 11);
  EXPECT_EQ(sps.log2_max_mv_length_vertical, 11);
  EXPECT_EQ(sps.num_reorder_frames, 2);
  EXPECT_EQ(sps.max_dec_frame_buffering, 4);
}

TEST(SpsParserTest, HighSps1080pCodes1088RowsWithBottomCropping) {
  H264ParseContext ctx;
  parseUnit(ctx, kHigh1080Sps);
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ(sps.profile_idc, 100);
  EXPECT_EQ(sps.level_idc, 40);
  EXPECT_EQ(sps.chroma_format_idc, 1);
  EXPECT_EQ(sps.bit_depth_luma_minus8, 0);
  EXPECT_EQ(sps.seq_scaling_matrix_present_flag, 0);
  EXPECT_EQ(sps.pic_order_cnt_type, 0);
  EXPECT_EQ(sps.log2_max_pic_order_cnt_lsb_minus4, 2);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1 + 1, 120);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1 + 1, 68);
  EXPECT_EQ(widthOf(sps), 1920);
  EXPECT_EQ(heightOf(sps), 1088);
  EXPECT_EQ(sps.frame_cropping_flag, 1);
  EXPECT_EQ(sps.frame_crop_left_offset, 0);
  EXPECT_EQ(sps.frame_crop_right_offset, 0);
  EXPECT_EQ(sps.frame_crop_top_offset, 0);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 4);
  EXPECT_EQ(sps.num_units_in_tick, 1);
  EXPECT_EQ(sps.time_scale, 50);
  EXPECT_EQ(sps.fixed_frame_rate_flag, 0);
  EXPECT_EQ(sps.max_dec_frame_buffering, 4);
}

TEST(SpsParserTest, InterlacedSpsReadsTheFieldCodingFlags) {
  H264ParseContext ctx;
  parseUnit(ctx, kInterlacedSps);
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ(sps.level_idc, 30);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 39);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 11);
  EXPECT_EQ(heightOf(sps), 384);  // 12 map units of field macroblock pairs
  EXPECT_EQ(sps.frame_mbs_only_flag, 0);
  EXPECT_EQ(sps.mb_adaptive_frame_field_flag, 1);
  EXPECT_EQ(sps.direct_8x8_inference_flag, 1);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 6);
  EXPECT_EQ(sps.pic_struct_present_flag, 1);
  EXPECT_EQ(sps.max_dec_frame_buffering, 4);
}

TEST(SpsParserTest, InterlacedSps576CodesTheFullFrameHeight) {
  H264ParseContext ctx;
  parseUnit(ctx, kField576Sps);
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ(sps.frame_mbs_only_flag, 0);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 17);
  EXPECT_EQ(widthOf(sps), 720);
  EXPECT_EQ(heightOf(sps), 576);
}

TEST(SpsParserTest, CodedPictureSizeWrapsHostileValues) {
  SeqParameterSet sps{};
  sps.pic_width_in_mbs_minus1 = 0x10000000;
  sps.pic_height_in_map_units_minus1 = 0x08000000;
  EXPECT_EQ(widthOf(sps), 16);
  EXPECT_EQ(heightOf(sps), 32);  // field pairs: 2 * 16 * (2^27 + 1) rows
  sps.pic_width_in_mbs_minus1 = -1;
  EXPECT_EQ(widthOf(sps), 0);
}

TEST(SpsParserTest, DisplayPictureSizeIsTheEncodedSize) {
  // libx264 clips (make_samples.py) at the sizes they were encoded at.
  auto parsed = [](const auto& unit) { H264ParseContext ctx; parseUnit(ctx, unit); return ctx.seqParameterSet(); };
  SeqParameterSet hostile = parsed(kCrop200Sps);
  hostile.frame_crop_right_offset = 104;  // cropping that would leave no picture is ignored
  const std::pair<SeqParameterSet, std::pair<int, int>> cases[] = {
      {parsed(kBase320Sps), {320, 240}}, {parsed(kHigh1080Sps), {1920, 1080}}, {parsed(kHigh444Sps), {1920, 1080}},
      {parsed(kInterlacedSps), {640, 360}}, {parsed(kCrop200Sps), {200, 120}}, {hostile, {208, 128}}};
  for (const auto& [sps, size] : cases) {
    std::int32_t width = 0, height = 0;
    displayPictureSize(sps, width, height);
    EXPECT_EQ(std::make_pair(width, height), size);
  }
}

TEST(SpsParserTest, High444SpsFromLibx264ReadsTheFieldsAfterTheChromaFormat) {
  H264ParseContext ctx;
  parseUnit(ctx, kHigh444Sps);
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ(sps.profile_idc, 244);
  EXPECT_EQ(sps.chroma_format_idc, 3);
  EXPECT_EQ(sps.separate_colour_plane_flag, 0);
  EXPECT_EQ(sps.seq_scaling_matrix_present_flag, 0);
  EXPECT_EQ(sps.log2_max_pic_order_cnt_lsb_minus4, 2);
  EXPECT_EQ(sps.num_ref_frames, 4);
  EXPECT_EQ(widthOf(sps), 1920);
  EXPECT_EQ(heightOf(sps), 1088);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 8);
  EXPECT_EQ(sps.time_scale, 50);
  EXPECT_EQ(sps.max_dec_frame_buffering, 4);
}

TEST(SpsParserTest, CroppedSpsKeepsRightAndBottomOffsets) {
  H264ParseContext ctx;
  parseUnit(ctx, kCrop200Sps);
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ(sps.profile_idc, 77);
  EXPECT_EQ(sps.level_idc, 12);
  EXPECT_EQ(sps.pic_order_cnt_type, 2);
  EXPECT_EQ(widthOf(sps), 208);
  EXPECT_EQ(heightOf(sps), 128);
  EXPECT_EQ(sps.frame_crop_left_offset, 0);
  EXPECT_EQ(sps.frame_crop_right_offset, 4);
  EXPECT_EQ(sps.frame_crop_top_offset, 0);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 4);
  EXPECT_EQ(sps.time_scale, 60);
  EXPECT_EQ(sps.max_dec_frame_buffering, 3);
}

TEST(SpsParserTest, HrdParametersFromLibx264) {
  H264ParseContext ctx;
  parseUnit(ctx, kHrdSps);
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ(widthOf(sps), 352);
  EXPECT_EQ(heightOf(sps), 288);
  EXPECT_EQ(sps.nal_hrd_parameters_present_flag, 1);
  EXPECT_EQ(sps.cpb_cnt_minus1, 0);
  EXPECT_EQ(sps.bit_rate_scale, 0);
  EXPECT_EQ(sps.cpb_size_scale, 2);
  EXPECT_EQ(sps.bit_rate_value_minus1[0], 15624);
  EXPECT_EQ(sps.cpb_size_value_minus1[0], 15624);
  EXPECT_EQ(sps.cbr_flag[0], 1);
  EXPECT_EQ(sps.initial_cpb_removal_delay_length_minus1, 18);
  EXPECT_EQ(sps.cpb_removal_delay_length_minus1, 12);
  EXPECT_EQ(sps.dpb_output_delay_length_minus1, 6);
  EXPECT_EQ(sps.time_offset_length, 0);
  EXPECT_EQ(sps.vcl_hrd_parameters_present_flag, 0);
  EXPECT_EQ(sps.low_delay_hrd_flag, 0);
  EXPECT_EQ(sps.max_dec_frame_buffering, 4);
}

// --- Synthetic sets for the branches libx264 does not produce ---

// Header through seq_parameter_set_id for a given profile.
BitWriter spsStart(int profile) {
  BitWriter w;
  w.u(8, static_cast<std::uint64_t>(profile)).u(4, 0b1010).u(4, 0).u(8, 41).ue(3);
  return w;
}

// The fields from num_ref_frames to vui_parameters_present_flag (no VUI).
BitWriter& spsTail(BitWriter& w, int widthMbsMinus1 = 21, int heightMinus1 = 17) {
  return w.ue(5).flag(false).ue(static_cast<std::uint64_t>(widthMbsMinus1))
      .ue(static_cast<std::uint64_t>(heightMinus1)).flag(true).flag(false).flag(false).flag(false);
}

bool parseRbsp(const std::vector<std::uint8_t>& rbsp, SeqParameterSet& sps) {
  BitReader r(rbsp.data(), rbsp.size());
  return parseSeqParameterSet(r, sps);
}

TEST(SpsParserTest, ScalingListsAreSkippedWithoutLosingTheBitPosition) {
  // 4:4:4 codes twelve lists, the other formats eight; 8x8 lists from the seventh.
  const bool present[12] = {true, false, true, false, false, true, true, false, true, false, true, true};
  for (int chroma : {1, 3}) {
    const int lists = chroma == 3 ? 12 : 8;
    BitWriter w = spsStart(100);
    w.ue(static_cast<std::uint64_t>(chroma));
    if (chroma == 3) w.flag(true);  // separate colour planes
    w.ue(2).ue(2).flag(true).flag(true);  // 10 bit, transform bypass, scaling matrix
    for (int i = 0; i < lists; ++i) {
      w.flag(present[i]);
      if (!present[i]) continue;
      const int size = i < 6 ? 16 : 64;
      if (i == 2 || i == 10) {
        w.se(-8);  // use the default list: one code only
      } else {
        for (int j = 0; j < size; ++j) w.se(j % 2 == 0 ? 3 : -2);  // never sums to 0
      }
    }
    w.ue(12).ue(0).ue(4);  // log2_max_frame_num_minus4, poc type 0, lsb width
    spsTail(w).trailing();

    SeqParameterSet sps{};
    ASSERT_TRUE(parseRbsp(w.rbsp(), sps)) << chroma;
    EXPECT_EQ(sps.profile_idc, 100);
    EXPECT_EQ(sps.constraint_set0_flag, 1);
    EXPECT_EQ(sps.constraint_set1_flag, 0);
    EXPECT_EQ(sps.constraint_set2_flag, 1);
    EXPECT_EQ(sps.constraint_set3_flag, 0);
    EXPECT_EQ(sps.level_idc, 41);
    EXPECT_EQ(sps.seq_parameter_set_id, 3);
    EXPECT_EQ(sps.chroma_format_idc, chroma);
    EXPECT_EQ(sps.separate_colour_plane_flag, chroma == 3 ? 1 : 0) << chroma;
    EXPECT_EQ(sps.bit_depth_luma_minus8, 2) << chroma;
    EXPECT_EQ(sps.bit_depth_chroma_minus8, 2) << chroma;
    EXPECT_EQ(sps.qpprime_y_zero_transform_bypass_flag, 1) << chroma;
    EXPECT_EQ(sps.seq_scaling_matrix_present_flag, 1) << chroma;
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(sps.seq_scaling_list_present_flag[i], i < lists && present[i] ? 1 : 0) << chroma << " " << i;
    }
    EXPECT_EQ(sps.log2_max_frame_num_minus4, 12) << chroma;
    EXPECT_EQ(sps.log2_max_pic_order_cnt_lsb_minus4, 4) << chroma;
    EXPECT_EQ(sps.num_ref_frames, 5) << chroma;
    EXPECT_EQ(sps.pic_width_in_mbs_minus1, 21) << chroma;
    EXPECT_EQ(sps.pic_height_in_map_units_minus1, 17) << chroma;
    EXPECT_EQ(sps.frame_mbs_only_flag, 1) << chroma;
  }
}

TEST(SpsParserTest, OnlyTheListedProfilesReadChromaAndBitDepth) {
  for (int profile : {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135, 144}) {
    BitWriter w = spsStart(profile);
    w.ue(2).ue(1).ue(1).flag(false).flag(false).ue(0).ue(2);
    spsTail(w, 7, 8).trailing();
    SeqParameterSet sps{};
    ASSERT_TRUE(parseRbsp(w.rbsp(), sps));
    EXPECT_EQ(sps.chroma_format_idc, 2) << profile;
    EXPECT_EQ(sps.bit_depth_luma_minus8, 1) << profile;
    EXPECT_EQ(sps.pic_width_in_mbs_minus1, 7) << profile;
  }
  for (int profile : {66, 77, 88, 101, 245}) {
    BitWriter w = spsStart(profile);
    w.ue(0).ue(2);
    spsTail(w, 7, 8).trailing();
    SeqParameterSet sps{};
    sps.chroma_format_idc = 3;
    sps.bit_depth_luma_minus8 = 4;
    ASSERT_TRUE(parseRbsp(w.rbsp(), sps));
    EXPECT_EQ(sps.chroma_format_idc, 1) << profile;  // inferred 4:2:0
    EXPECT_EQ(sps.bit_depth_luma_minus8, 0) << profile;
    EXPECT_EQ(sps.pic_width_in_mbs_minus1, 7) << profile;
    EXPECT_EQ(sps.pic_height_in_map_units_minus1, 8) << profile;
  }
}

TEST(SpsParserTest, PicOrderCountTypeOneReadsItsOffsetCycle) {
  BitWriter w = spsStart(77);
  w.ue(0).ue(1).flag(true).se(-7).se(9).ue(3).se(1).se(-2).se(300);
  spsTail(w).trailing();
  SeqParameterSet sps{};
  ASSERT_TRUE(parseRbsp(w.rbsp(), sps));
  EXPECT_EQ(sps.pic_order_cnt_type, 1);
  EXPECT_EQ(sps.delta_pic_order_always_zero_flag, 1);
  EXPECT_EQ(sps.offset_for_non_ref_pic, -7);
  EXPECT_EQ(sps.offset_for_top_to_bottom_field, 9);
  EXPECT_EQ(sps.num_ref_frames_in_pic_order_cnt_cycle, 3);
  EXPECT_EQ(sps.offset_for_ref_frame[0], 1);
  EXPECT_EQ(sps.offset_for_ref_frame[1], -2);
  EXPECT_EQ(sps.offset_for_ref_frame[2], 300);
  EXPECT_EQ(sps.num_ref_frames, 5);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 21);
}

TEST(SpsParserTest, OffsetCycleBeyondItsArrayStopsTheUnit) {
  for (std::uint32_t cycle : {256u, 257u, 0xFFFFFFFFu}) {
    BitWriter w = spsStart(77);
    w.ue(0).ue(1).flag(false).se(1).se(2).ue(cycle);
    for (std::uint32_t i = 0; i < 256; ++i) w.se(static_cast<std::int64_t>(i) + 1);
    spsTail(w).trailing();
    SeqParameterSet sps{};
    sps.num_ref_frames = -77;
    sps.offset_for_ref_frame[255] = -77;
    const bool complete = parseRbsp(w.rbsp(), sps);
    EXPECT_EQ(sps.num_ref_frames_in_pic_order_cnt_cycle, static_cast<std::int32_t>(cycle));
    if (cycle == 256) {
      EXPECT_TRUE(complete);
      EXPECT_EQ(sps.offset_for_ref_frame[255], 256);
      EXPECT_EQ(sps.num_ref_frames, 5);
    } else {
      EXPECT_FALSE(complete) << cycle;
      EXPECT_EQ(sps.offset_for_ref_frame[255], -77) << cycle;
      EXPECT_EQ(sps.num_ref_frames, -77) << cycle;  // not read after the stop
    }
    EXPECT_EQ(sps.offset_for_non_ref_pic, 1);
    EXPECT_EQ(sps.offset_for_top_to_bottom_field, 2);
  }
}

BitWriter& hrd(BitWriter& w, std::uint32_t cpbCntMinus1, int base) {
  w.ue(cpbCntMinus1).u(4, 3).u(4, 5);
  const std::uint32_t written = cpbCntMinus1 < 40 ? cpbCntMinus1 + 1 : 40;
  for (std::uint32_t i = 0; i < written; ++i) {
    w.ue(static_cast<std::uint64_t>(base) + i).ue(static_cast<std::uint64_t>(base) + 100 + i).flag(i % 2 == 1);
  }
  return w.u(5, 23).u(5, 7).u(5, 9).u(5, 24);
}

TEST(SpsParserTest, FullVuiWithBothHrdSetsKeepsTheLastOne) {
  BitWriter v = spsStart(77);
  v.ue(0).ue(2).ue(5).flag(false).ue(21).ue(17).flag(true).flag(false).flag(false).flag(true);
  v.flag(true).u(8, 255).u(16, 64).u(16, 45);      // extended SAR
  v.flag(true).flag(true);                         // overscan
  v.flag(true).u(3, 5).flag(true).flag(true).u(8, 1).u(8, 6).u(8, 9);
  v.flag(true).ue(2).ue(3);                        // chroma location
  v.flag(true).u(32, 1001).u(32, 60000).flag(true);
  v.flag(true);
  hrd(v, 1, 10);
  v.flag(true);
  hrd(v, 2, 20);
  v.flag(true).flag(true);                         // low delay, pic_struct
  v.flag(true).flag(false).ue(2).ue(1).ue(16).ue(15).ue(3).ue(5);
  v.trailing();

  SeqParameterSet sps{};
  ASSERT_TRUE(parseRbsp(v.rbsp(), sps));
  EXPECT_EQ(sps.aspect_ratio_idc, 255);
  EXPECT_EQ(sps.sar_width, 64);
  EXPECT_EQ(sps.sar_height, 45);
  EXPECT_EQ(sps.overscan_appropriate_flag, 1);
  EXPECT_EQ(sps.video_format, 5);
  EXPECT_EQ(sps.video_full_range_flag, 1);
  EXPECT_EQ(sps.colour_primaries, 1);
  EXPECT_EQ(sps.transfer_characteristics, 6);
  EXPECT_EQ(sps.matrix_coefficients, 9);
  EXPECT_EQ(sps.chroma_sample_loc_type_top_field, 2);
  EXPECT_EQ(sps.chroma_sample_loc_type_bottom_field, 3);
  EXPECT_EQ(sps.num_units_in_tick, 1001);
  EXPECT_EQ(sps.time_scale, 60000);
  EXPECT_EQ(sps.fixed_frame_rate_flag, 1);
  EXPECT_EQ(sps.nal_hrd_parameters_present_flag, 1);
  EXPECT_EQ(sps.vcl_hrd_parameters_present_flag, 1);
  EXPECT_EQ(sps.cpb_cnt_minus1, 2);
  EXPECT_EQ(sps.bit_rate_scale, 3);
  EXPECT_EQ(sps.cpb_size_scale, 5);
  EXPECT_EQ(sps.bit_rate_value_minus1[0], 20);
  EXPECT_EQ(sps.bit_rate_value_minus1[2], 22);
  EXPECT_EQ(sps.cpb_size_value_minus1[1], 121);
  EXPECT_EQ(sps.cbr_flag[1], 1);
  EXPECT_EQ(sps.cbr_flag[2], 0);
  EXPECT_EQ(sps.initial_cpb_removal_delay_length_minus1, 23);
  EXPECT_EQ(sps.time_offset_length, 24);
  EXPECT_EQ(sps.low_delay_hrd_flag, 1);
  EXPECT_EQ(sps.pic_struct_present_flag, 1);
  EXPECT_EQ(sps.motion_vectors_over_pic_boundaries_flag, 0);
  EXPECT_EQ(sps.max_bytes_per_pic_denom, 2);
  EXPECT_EQ(sps.max_bits_per_mb_denom, 1);
  EXPECT_EQ(sps.log2_max_mv_length_horizontal, 16);
  EXPECT_EQ(sps.log2_max_mv_length_vertical, 15);
  EXPECT_EQ(sps.num_reorder_frames, 3);
  EXPECT_EQ(sps.max_dec_frame_buffering, 5);
}

TEST(SpsParserTest, HrdCountBeyondItsArraysStopsTheUnit) {
  for (std::uint32_t cpbCntMinus1 : {31u, 32u, 0xFFFFFFFFu}) {
    BitWriter v = spsStart(77);
    v.ue(0).ue(2).ue(5).flag(false).ue(21).ue(17).flag(true).flag(false).flag(false).flag(true);
    v.flag(false).flag(false).flag(false).flag(false).flag(false);
    v.flag(true);
    hrd(v, cpbCntMinus1, 1);
    v.flag(false).flag(true).flag(false).flag(false).trailing();  // vcl, low delay, pic_struct, restriction

    SeqParameterSet sps{};
    sps.bit_rate_value_minus1[31] = -77;
    sps.time_offset_length = -77;
    sps.pic_struct_present_flag = -77;
    const bool complete = parseRbsp(v.rbsp(), sps);
    EXPECT_EQ(sps.cpb_cnt_minus1, static_cast<std::int32_t>(cpbCntMinus1));
    EXPECT_EQ(sps.bit_rate_scale, 3);
    if (cpbCntMinus1 == 31) {
      EXPECT_TRUE(complete);
      EXPECT_EQ(sps.bit_rate_value_minus1[31], 32);
      EXPECT_EQ(sps.cpb_size_value_minus1[31], 132);
      EXPECT_EQ(sps.time_offset_length, 24);
      EXPECT_EQ(sps.low_delay_hrd_flag, 1);
      EXPECT_EQ(sps.pic_struct_present_flag, 0);
    } else {
      EXPECT_FALSE(complete);
      EXPECT_EQ(sps.bit_rate_value_minus1[31], -77);
      EXPECT_EQ(sps.time_offset_length, -77);
      EXPECT_EQ(sps.pic_struct_present_flag, -77);
    }
  }
}

TEST(SpsParserTest, HugeValuesAreStoredAsRead) {
  BitWriter w = spsStart(77);
  w.ue(0xFFFFFFFFull).ue(0).ue(0x80000000ull);
  spsTail(w, 0x7FFFFFFF, 0).trailing();
  SeqParameterSet sps{};
  ASSERT_TRUE(parseRbsp(w.rbsp(), sps));
  EXPECT_EQ(sps.log2_max_frame_num_minus4, -1);
  EXPECT_EQ(sps.log2_max_pic_order_cnt_lsb_minus4, std::int32_t{-2147483647 - 1});
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 0x7FFFFFFF);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 0);
}

TEST(SpsParserTest, FieldsAbsentFromALaterSpsKeepTheirValues) {
  H264ParseContext ctx;
  parseUnit(ctx, kHigh1080Sps);
  BitWriter w = spsStart(66);
  w.ue(0).ue(2);
  spsTail(w, 9, 4).trailing();  // no cropping, no VUI
  parseUnit(ctx, w.nal(0x67));
  const SeqParameterSet& sps = ctx.seqParameterSet();
  EXPECT_EQ(sps.profile_idc, 66);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 9);
  EXPECT_EQ(sps.frame_cropping_flag, 0);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 4);  // from the 1080p set
  EXPECT_EQ(sps.vui_parameters_present_flag, 0);
  EXPECT_EQ(sps.time_scale, 50);
  EXPECT_EQ(sps.log2_max_pic_order_cnt_lsb_minus4, 2);
}

}  // namespace
