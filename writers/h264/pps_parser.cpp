#include "writers/h264/h264_parsers.h"
#include "writers/h264/h264_syntax.h"

namespace {

bool parseSliceGroups(BitReader& r, PicParameterSet& pps) {
  const std::uint32_t groupsMinus1 = static_cast<std::uint32_t>(pps.num_slice_groups_minus1);
  pps.slice_group_map_type = readUe(r);
  switch (pps.slice_group_map_type) {
    case 0:
      if (groupsMinus1 >= 8) return false;
      for (std::uint32_t i = 0; i <= groupsMinus1; ++i) pps.run_length_minus1[i] = readUe(r);
      break;
    case 2:
      if (groupsMinus1 > 8) return false;
      for (std::uint32_t i = 0; i < groupsMinus1; ++i) {
        pps.top_left[i] = readUe(r);
        pps.bottom_right[i] = readUe(r);
      }
      break;
    case 3:
    case 4:
    case 5:
      pps.slice_group_change_direction_flag = readU(r, 1);
      pps.slice_group_change_rate_minus1 = readUe(r);
      break;
    case 6: {
      const std::uint32_t sizeMinus1 = r.readUE();
      pps.pic_size_in_map_units_minus1 = static_cast<std::int32_t>(sizeMinus1);
      if (sizeMinus1 >= 256) return false;
      const int width = ceilLog2Width(static_cast<double>(groupsMinus1) + 1.0);
      for (std::uint32_t i = 0; i <= sizeMinus1; ++i) pps.slice_group_id[i] = readU(r, width);
      break;
    }
    default:
      break;
  }
  return true;
}

}  // namespace

bool parsePicParameterSet(BitReader& r, PicParameterSet& pps) {
  pps.pic_parameter_set_id = readUe(r);
  pps.seq_parameter_set_id = readUe(r);
  pps.entropy_coding_mode_flag = readU(r, 1);
  pps.pic_order_present_flag = readU(r, 1);
  pps.num_slice_groups_minus1 = readUe(r);
  if (pps.num_slice_groups_minus1 > 0 && !parseSliceGroups(r, pps)) return false;
  pps.num_ref_idx_l0_active_minus1 = readUe(r);
  pps.num_ref_idx_l1_active_minus1 = readUe(r);
  pps.weighted_pred_flag = readU(r, 1);
  pps.weighted_bipred_idc = readU(r, 2);
  pps.pic_init_qp_minus26 = readSe(r);
  pps.pic_init_qs_minus26 = readSe(r);
  pps.chroma_qp_index_offset = readSe(r);
  pps.deblocking_filter_control_present_flag = readU(r, 1);
  pps.constrained_intra_pred_flag = readU(r, 1);
  pps.redundant_pic_cnt_present_flag = readU(r, 1);
  // The high-profile tail is optional; the stop bit that ends every PPS
  // must not be taken for transform_8x8_mode_flag.
  if (r.moreRbspData()) {
    pps.transform_8x8_mode_flag = readU(r, 1);
    pps.pic_scaling_matrix_present_flag = readU(r, 1);
    if (pps.pic_scaling_matrix_present_flag) {
      const int lists = 6 + 2 * (pps.transform_8x8_mode_flag ? 1 : 0);
      for (int i = 0; i < lists; ++i) {
        pps.pic_scaling_list_present_flag[i] = readU(r, 1);
        if (pps.pic_scaling_list_present_flag[i]) readScalingList(r, i < 6 ? 16 : 64);
      }
    }
    pps.second_chroma_qp_index_offset = readSe(r);
  }
  r.skipTrailingBits();
  return true;
}
