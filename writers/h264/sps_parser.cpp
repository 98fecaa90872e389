#include "writers/h264/h264_parsers.h"
#include "writers/h264/h264_syntax.h"

namespace {

// The profiles whose SPS carries chroma format, bit depths and scaling
// lists. 144, the withdrawn High 4:4:4, is kept for old encoders that wrote it.
constexpr std::int32_t kHighProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135, 144};

bool hasHighProfileFields(std::int32_t profile) {
  for (const std::int32_t p : kHighProfiles) {
    if (p == profile) return true;
  }
  return false;
}

bool parseHrd(BitReader& r, SeqParameterSet& sps) {
  const std::uint32_t cpbCntMinus1 = r.readUE();
  sps.cpb_cnt_minus1 = static_cast<std::int32_t>(cpbCntMinus1);
  sps.bit_rate_scale = readU(r, 4);
  sps.cpb_size_scale = readU(r, 4);
  if (cpbCntMinus1 >= 32) return false;
  for (std::uint32_t i = 0; i <= cpbCntMinus1; ++i) {
    sps.bit_rate_value_minus1[i] = readUe(r);
    sps.cpb_size_value_minus1[i] = readUe(r);
    sps.cbr_flag[i] = readU(r, 1);
  }
  sps.initial_cpb_removal_delay_length_minus1 = readU(r, 5);
  sps.cpb_removal_delay_length_minus1 = readU(r, 5);
  sps.dpb_output_delay_length_minus1 = readU(r, 5);
  sps.time_offset_length = readU(r, 5);
  return true;
}

bool parseVui(BitReader& r, SeqParameterSet& sps) {
  sps.aspect_ratio_info_present_flag = readU(r, 1);
  if (sps.aspect_ratio_info_present_flag) {
    sps.aspect_ratio_idc = readU(r, 8);
    if (sps.aspect_ratio_idc == 255) {  // Extended_SAR
      sps.sar_width = readU(r, 16);
      sps.sar_height = readU(r, 16);
    }
  }
  sps.overscan_info_present_flag = readU(r, 1);
  if (sps.overscan_info_present_flag) sps.overscan_appropriate_flag = readU(r, 1);
  sps.video_signal_type_present_flag = readU(r, 1);
  if (sps.video_signal_type_present_flag) {
    sps.video_format = readU(r, 3);
    sps.video_full_range_flag = readU(r, 1);
    sps.colour_description_present_flag = readU(r, 1);
    if (sps.colour_description_present_flag) {
      sps.colour_primaries = readU(r, 8);
      sps.transfer_characteristics = readU(r, 8);
      sps.matrix_coefficients = readU(r, 8);
    }
  }
  sps.chroma_loc_info_present_flag = readU(r, 1);
  if (sps.chroma_loc_info_present_flag) {
    sps.chroma_sample_loc_type_top_field = readUe(r);
    sps.chroma_sample_loc_type_bottom_field = readUe(r);
  }
  sps.timing_info_present_flag = readU(r, 1);
  if (sps.timing_info_present_flag) {
    sps.num_units_in_tick = readU(r, 32);
    sps.time_scale = readU(r, 32);
    sps.fixed_frame_rate_flag = readU(r, 1);
  }
  sps.nal_hrd_parameters_present_flag = readU(r, 1);
  if (sps.nal_hrd_parameters_present_flag && !parseHrd(r, sps)) return false;
  sps.vcl_hrd_parameters_present_flag = readU(r, 1);
  if (sps.vcl_hrd_parameters_present_flag && !parseHrd(r, sps)) return false;
  if (sps.nal_hrd_parameters_present_flag || sps.vcl_hrd_parameters_present_flag) {
    sps.low_delay_hrd_flag = readU(r, 1);
  }
  sps.pic_struct_present_flag = readU(r, 1);
  sps.bitstream_restriction_flag = readU(r, 1);
  if (sps.bitstream_restriction_flag) {
    sps.motion_vectors_over_pic_boundaries_flag = readU(r, 1);
    sps.max_bytes_per_pic_denom = readUe(r);
    sps.max_bits_per_mb_denom = readUe(r);
    sps.log2_max_mv_length_horizontal = readUe(r);
    sps.log2_max_mv_length_vertical = readUe(r);
    sps.num_reorder_frames = readUe(r);
    sps.max_dec_frame_buffering = readUe(r);
  }
  return true;
}

}  // namespace

bool parseSeqParameterSet(BitReader& r, SeqParameterSet& sps) {
  sps.profile_idc = readU(r, 8);
  sps.constraint_set0_flag = readU(r, 1);
  sps.constraint_set1_flag = readU(r, 1);
  sps.constraint_set2_flag = readU(r, 1);
  sps.constraint_set3_flag = readU(r, 1);
  sps.reserved_zero_4bits = readU(r, 4);
  sps.level_idc = readU(r, 8);
  sps.seq_parameter_set_id = readUe(r);
  if (hasHighProfileFields(sps.profile_idc)) {
    sps.chroma_format_idc = readUe(r);
    if (sps.chroma_format_idc == 3) sps.separate_colour_plane_flag = readU(r, 1);
    sps.bit_depth_luma_minus8 = readUe(r);
    sps.bit_depth_chroma_minus8 = readUe(r);
    sps.qpprime_y_zero_transform_bypass_flag = readU(r, 1);
    sps.seq_scaling_matrix_present_flag = readU(r, 1);
    if (sps.seq_scaling_matrix_present_flag) {
      // 4:4:4 adds 8x8 lists for Cb and Cr, intra and inter.
      const int lists = sps.chroma_format_idc == 3 ? 12 : 8;
      for (int i = 0; i < lists; ++i) {
        sps.seq_scaling_list_present_flag[i] = readU(r, 1);
        if (sps.seq_scaling_list_present_flag[i]) readScalingList(r, i < 6 ? 16 : 64);
      }
    }
  } else {
    // The other profiles code 4:2:0 at 8 bits without these fields; the
    // inferred values keep a later slice header (chroma weights) right
    // even after a high-profile SPS went through the same context.
    sps.chroma_format_idc = 1;
    sps.separate_colour_plane_flag = 0;
    sps.bit_depth_luma_minus8 = 0;
    sps.bit_depth_chroma_minus8 = 0;
    sps.qpprime_y_zero_transform_bypass_flag = 0;
    sps.seq_scaling_matrix_present_flag = 0;
  }
  sps.log2_max_frame_num_minus4 = readUe(r);
  sps.pic_order_cnt_type = readUe(r);
  if (sps.pic_order_cnt_type == 0) {
    sps.log2_max_pic_order_cnt_lsb_minus4 = readUe(r);
  } else if (sps.pic_order_cnt_type == 1) {
    sps.delta_pic_order_always_zero_flag = readU(r, 1);
    sps.offset_for_non_ref_pic = readSe(r);
    sps.offset_for_top_to_bottom_field = readSe(r);
    const std::uint32_t cycle = r.readUE();
    sps.num_ref_frames_in_pic_order_cnt_cycle = static_cast<std::int32_t>(cycle);
    if (cycle > 256) return false;
    for (std::uint32_t i = 0; i < cycle; ++i) sps.offset_for_ref_frame[i] = readSe(r);
  }
  sps.num_ref_frames = readUe(r);
  sps.gaps_in_frame_num_value_allowed_flag = readU(r, 1);
  sps.pic_width_in_mbs_minus1 = readUe(r);
  sps.pic_height_in_map_units_minus1 = readUe(r);
  sps.frame_mbs_only_flag = readU(r, 1);
  if (!sps.frame_mbs_only_flag) sps.mb_adaptive_frame_field_flag = readU(r, 1);
  sps.direct_8x8_inference_flag = readU(r, 1);
  sps.frame_cropping_flag = readU(r, 1);
  if (sps.frame_cropping_flag) {
    sps.frame_crop_left_offset = readUe(r);
    sps.frame_crop_right_offset = readUe(r);
    sps.frame_crop_top_offset = readUe(r);
    sps.frame_crop_bottom_offset = readUe(r);
  }
  sps.vui_parameters_present_flag = readU(r, 1);
  if (sps.vui_parameters_present_flag && !parseVui(r, sps)) return false;
  r.skipTrailingBits();
  return true;
}
