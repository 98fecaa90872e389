#pragma once

#include <cstdint>

// Syntax elements as read, one signed 32-bit field each (flags 0 or 1).
// A parse overwrites only the fields present in the bitstream.

struct NalHeader {
  std::int32_t forbidden_zero_bit;
  std::int32_t nal_ref_idc;
  std::int32_t nal_unit_type;
};

struct SeqParameterSet {
  std::int32_t profile_idc;
  std::int32_t constraint_set0_flag;
  std::int32_t constraint_set1_flag;
  std::int32_t constraint_set2_flag;
  std::int32_t constraint_set3_flag;
  std::int32_t reserved_zero_4bits;
  std::int32_t level_idc;
  std::int32_t seq_parameter_set_id;
  std::int32_t chroma_format_idc;
  std::int32_t separate_colour_plane_flag;
  std::int32_t bit_depth_luma_minus8;
  std::int32_t bit_depth_chroma_minus8;
  std::int32_t qpprime_y_zero_transform_bypass_flag;
  std::int32_t seq_scaling_matrix_present_flag;
  std::int32_t seq_scaling_list_present_flag[12];
  std::int32_t log2_max_frame_num_minus4;
  std::int32_t pic_order_cnt_type;
  std::int32_t log2_max_pic_order_cnt_lsb_minus4;
  std::int32_t delta_pic_order_always_zero_flag;
  std::int32_t offset_for_non_ref_pic;
  std::int32_t offset_for_top_to_bottom_field;
  std::int32_t num_ref_frames_in_pic_order_cnt_cycle;
  std::int32_t offset_for_ref_frame[256];
  std::int32_t num_ref_frames;
  std::int32_t gaps_in_frame_num_value_allowed_flag;
  std::int32_t pic_width_in_mbs_minus1;
  std::int32_t pic_height_in_map_units_minus1;
  std::int32_t frame_mbs_only_flag;
  std::int32_t mb_adaptive_frame_field_flag;
  std::int32_t direct_8x8_inference_flag;
  std::int32_t frame_cropping_flag;
  std::int32_t frame_crop_left_offset;
  std::int32_t frame_crop_right_offset;
  std::int32_t frame_crop_top_offset;
  std::int32_t frame_crop_bottom_offset;
  std::int32_t vui_parameters_present_flag;
  // VUI
  std::int32_t aspect_ratio_info_present_flag;
  std::int32_t aspect_ratio_idc;
  std::int32_t sar_width;
  std::int32_t sar_height;
  std::int32_t overscan_info_present_flag;
  std::int32_t overscan_appropriate_flag;
  std::int32_t video_signal_type_present_flag;
  std::int32_t video_format;
  std::int32_t video_full_range_flag;
  std::int32_t colour_description_present_flag;
  std::int32_t colour_primaries;
  std::int32_t transfer_characteristics;
  std::int32_t matrix_coefficients;
  std::int32_t chroma_loc_info_present_flag;
  std::int32_t chroma_sample_loc_type_top_field;
  std::int32_t chroma_sample_loc_type_bottom_field;
  std::int32_t timing_info_present_flag;
  std::int32_t num_units_in_tick;
  std::int32_t time_scale;
  std::int32_t fixed_frame_rate_flag;
  std::int32_t nal_hrd_parameters_present_flag;
  std::int32_t vcl_hrd_parameters_present_flag;
  std::int32_t low_delay_hrd_flag;
  std::int32_t pic_struct_present_flag;
  std::int32_t bitstream_restriction_flag;
  std::int32_t motion_vectors_over_pic_boundaries_flag;
  std::int32_t max_bytes_per_pic_denom;
  std::int32_t max_bits_per_mb_denom;
  std::int32_t log2_max_mv_length_horizontal;
  std::int32_t log2_max_mv_length_vertical;
  std::int32_t num_reorder_frames;
  std::int32_t max_dec_frame_buffering;
  // HRD: the VCL set, when present, overwrites the NAL set.
  std::int32_t cpb_cnt_minus1;
  std::int32_t bit_rate_scale;
  std::int32_t cpb_size_scale;
  std::int32_t bit_rate_value_minus1[32];
  std::int32_t cpb_size_value_minus1[32];
  std::int32_t cbr_flag[32];
  std::int32_t initial_cpb_removal_delay_length_minus1;
  std::int32_t cpb_removal_delay_length_minus1;
  std::int32_t dpb_output_delay_length_minus1;
  std::int32_t time_offset_length;
};

struct PicParameterSet {
  std::int32_t pic_parameter_set_id;
  std::int32_t seq_parameter_set_id;
  std::int32_t entropy_coding_mode_flag;
  std::int32_t pic_order_present_flag;
  std::int32_t num_slice_groups_minus1;
  std::int32_t slice_group_map_type;
  std::int32_t run_length_minus1[8];
  std::int32_t top_left[8];
  std::int32_t bottom_right[8];
  std::int32_t slice_group_change_direction_flag;
  std::int32_t slice_group_change_rate_minus1;
  std::int32_t pic_size_in_map_units_minus1;
  std::int32_t slice_group_id[256];
  std::int32_t num_ref_idx_l0_active_minus1;
  std::int32_t num_ref_idx_l1_active_minus1;
  std::int32_t weighted_pred_flag;
  std::int32_t weighted_bipred_idc;
  std::int32_t pic_init_qp_minus26;
  std::int32_t pic_init_qs_minus26;
  std::int32_t chroma_qp_index_offset;
  std::int32_t deblocking_filter_control_present_flag;
  std::int32_t constrained_intra_pred_flag;
  std::int32_t redundant_pic_cnt_present_flag;
  std::int32_t transform_8x8_mode_flag;
  std::int32_t pic_scaling_matrix_present_flag;
  std::int32_t pic_scaling_list_present_flag[8];
  std::int32_t second_chroma_qp_index_offset;
};

struct AccessUnitDelimiter {
  std::int32_t primary_pic_type;
};

struct SliceHeader {
  std::int32_t first_mb_in_slice;
  std::int32_t slice_type;
  std::int32_t pic_parameter_set_id;
  std::int32_t frame_num;
  std::int32_t field_pic_flag;
  std::int32_t bottom_field_flag;
  std::int32_t idr_pic_id;
  std::int32_t pic_order_cnt_lsb;
  std::int32_t delta_pic_order_cnt_bottom;
  std::int32_t delta_pic_order_cnt[2];
  std::int32_t redundant_pic_cnt;
  std::int32_t direct_spatial_mv_pred_flag;
  std::int32_t num_ref_idx_active_override_flag;
  std::int32_t num_ref_idx_l0_active_minus1;
  std::int32_t num_ref_idx_l1_active_minus1;
  // Reference list reordering: the flags and the last operation read.
  std::int32_t ref_pic_list_reordering_flag_l0;
  std::int32_t ref_pic_list_reordering_flag_l1;
  std::int32_t reordering_of_pic_nums_idc;
  std::int32_t abs_diff_pic_num_minus1;
  std::int32_t long_term_pic_num;  // also the operand of marking operation 2
  // Prediction weight table, per reference index; chroma [i][0] is Cb, [i][1] Cr.
  std::int32_t luma_log2_weight_denom;
  std::int32_t chroma_log2_weight_denom;
  std::int32_t luma_weight_l0_flag;
  std::int32_t luma_weight_l0[64];
  std::int32_t luma_offset_l0[64];
  std::int32_t chroma_weight_l0_flag;
  std::int32_t chroma_weight_l0[64][2];
  std::int32_t chroma_offset_l0[64][2];
  std::int32_t luma_weight_l1_flag;
  std::int32_t luma_weight_l1[64];
  std::int32_t luma_offset_l1[64];
  std::int32_t chroma_weight_l1_flag;
  std::int32_t chroma_weight_l1[64][2];
  std::int32_t chroma_offset_l1[64][2];
  // Reference picture marking: the flags and the last operation read.
  std::int32_t no_output_of_prior_pics_flag;
  std::int32_t long_term_reference_flag;
  std::int32_t adaptive_ref_pic_marking_mode_flag;
  std::int32_t memory_management_control_operation;
  std::int32_t difference_of_pic_nums_minus1;
  std::int32_t long_term_frame_idx;
  std::int32_t max_long_term_frame_idx_plus1;
  std::int32_t cabac_init_idc;
  std::int32_t slice_qp_delta;
  std::int32_t sp_for_switch_flag;
  std::int32_t slice_qs_delta;
  std::int32_t disable_deblocking_filter_idc;
  std::int32_t slice_alpha_c0_offset_div2;
  std::int32_t slice_beta_offset_div2;
  std::int32_t slice_group_change_cycle;
};
