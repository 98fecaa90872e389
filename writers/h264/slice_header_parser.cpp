#include "writers/h264/h264_parsers.h"
#include "writers/h264/h264_syntax.h"

namespace {

enum SliceKind : std::uint32_t { kP = 0, kB = 1, kI = 2, kSP = 3, kSI = 4 };

void parseReorderingList(BitReader& r, SliceHeader& sh) {
  std::int32_t idc = 0;
  do {
    idc = readUe(r);
    sh.reordering_of_pic_nums_idc = idc;
    if (idc == 0 || idc == 1) {
      sh.abs_diff_pic_num_minus1 = readUe(r);
    } else if (idc == 2) {
      sh.long_term_pic_num = readUe(r);
    }
  } while (idc != 3 && !r.atEnd());
}

void parseReordering(BitReader& r, SliceKind kind, SliceHeader& sh) {
  if (kind == kI || kind == kSI) return;
  sh.ref_pic_list_reordering_flag_l0 = readU(r, 1);
  if (sh.ref_pic_list_reordering_flag_l0) parseReorderingList(r, sh);
  if (kind == kB) {
    sh.ref_pic_list_reordering_flag_l1 = readU(r, 1);
    if (sh.ref_pic_list_reordering_flag_l1) parseReorderingList(r, sh);
  }
}

struct WeightTable {
  std::int32_t& lumaFlag;
  std::int32_t (&lumaWeight)[64];
  std::int32_t (&lumaOffset)[64];
  std::int32_t& chromaFlag;
  std::int32_t (&chromaWeight)[64][2];
  std::int32_t (&chromaOffset)[64][2];
};

bool parseWeights(BitReader& r, std::uint32_t countMinus1, bool chroma, WeightTable t) {
  if (countMinus1 >= 64) return false;
  for (std::uint32_t i = 0; i <= countMinus1; ++i) {
    t.lumaFlag = readU(r, 1);
    if (t.lumaFlag) {
      t.lumaWeight[i] = readSe(r);
      t.lumaOffset[i] = readSe(r);
    }
    if (chroma) {
      t.chromaFlag = readU(r, 1);
      if (t.chromaFlag) {
        for (int j = 0; j < 2; ++j) {
          t.chromaWeight[i][j] = readSe(r);
          t.chromaOffset[i][j] = readSe(r);
        }
      }
    }
  }
  return true;
}

bool parsePredWeightTable(BitReader& r, SliceKind kind, const SeqParameterSet& sps,
                          std::uint32_t l0Minus1, std::uint32_t l1Minus1, SliceHeader& sh) {
  const bool chroma = sps.chroma_format_idc != 0;
  sh.luma_log2_weight_denom = readUe(r);
  if (chroma) sh.chroma_log2_weight_denom = readUe(r);
  if (!parseWeights(r, l0Minus1, chroma,
                    {sh.luma_weight_l0_flag, sh.luma_weight_l0, sh.luma_offset_l0,
                     sh.chroma_weight_l0_flag, sh.chroma_weight_l0, sh.chroma_offset_l0})) {
    return false;
  }
  if (kind != kB) return true;
  return parseWeights(r, l1Minus1, chroma,
                      {sh.luma_weight_l1_flag, sh.luma_weight_l1, sh.luma_offset_l1,
                       sh.chroma_weight_l1_flag, sh.chroma_weight_l1, sh.chroma_offset_l1});
}

void parseRefPicMarking(BitReader& r, bool idr, SliceHeader& sh) {
  if (idr) {
    sh.no_output_of_prior_pics_flag = readU(r, 1);
    sh.long_term_reference_flag = readU(r, 1);
    return;
  }
  sh.adaptive_ref_pic_marking_mode_flag = readU(r, 1);
  if (!sh.adaptive_ref_pic_marking_mode_flag) return;
  std::int32_t op = 0;
  do {
    op = readUe(r);
    sh.memory_management_control_operation = op;
    if (op == 1 || op == 3) sh.difference_of_pic_nums_minus1 = readUe(r);
    if (op == 2) sh.long_term_pic_num = readUe(r);
    if (op == 3 || op == 6) sh.long_term_frame_idx = readUe(r);
    if (op == 4) sh.max_long_term_frame_idx_plus1 = readUe(r);
  } while (op != 0 && !r.atEnd());
}

// Bits of slice_group_change_cycle: Ceil(Log2(PicSizeInMapUnits / SliceGroupChangeRate + 1)).
int sliceGroupChangeCycleWidth(const SeqParameterSet& sps, const PicParameterSet& pps) {
  const double widthMbs = static_cast<double>(static_cast<std::uint32_t>(sps.pic_width_in_mbs_minus1)) + 1.0;
  const double heightMapUnits =
      static_cast<double>(static_cast<std::uint32_t>(sps.pic_height_in_map_units_minus1)) + 1.0;
  const double changeRate =
      static_cast<double>(static_cast<std::uint32_t>(pps.slice_group_change_rate_minus1)) + 1.0;
  return ceilLog2Width(widthMbs * heightMapUnits / changeRate + 1.0);
}

}  // namespace

bool parseSliceHeader(BitReader& r, const NalHeader& nal, const SeqParameterSet& sps,
                      const PicParameterSet& pps, SliceHeader& sh) {
  sh.first_mb_in_slice = readUe(r);
  const std::uint32_t sliceType = r.readUE();
  sh.slice_type = static_cast<std::int32_t>(sliceType);
  const SliceKind kind = static_cast<SliceKind>(sliceType % 5);
  sh.pic_parameter_set_id = readUe(r);
  sh.frame_num = readU(r, clampBitWidth(std::int64_t{sps.log2_max_frame_num_minus4} + 4));
  if (!sps.frame_mbs_only_flag) {
    sh.field_pic_flag = readU(r, 1);
    if (sh.field_pic_flag) sh.bottom_field_flag = readU(r, 1);
  } else {
    // Inferred, so that a field flag from an earlier interlaced stream
    // does not suppress delta_pic_order_cnt_bottom below.
    sh.field_pic_flag = 0;
    sh.bottom_field_flag = 0;
  }
  const bool idr = nal.nal_unit_type == 5;
  if (idr) sh.idr_pic_id = readUe(r);
  if (sps.pic_order_cnt_type == 0) {
    sh.pic_order_cnt_lsb =
        readU(r, clampBitWidth(std::int64_t{sps.log2_max_pic_order_cnt_lsb_minus4} + 4));
    if (pps.pic_order_present_flag && !sh.field_pic_flag) sh.delta_pic_order_cnt_bottom = readSe(r);
  }
  if (sps.pic_order_cnt_type == 1 && !sps.delta_pic_order_always_zero_flag) {
    sh.delta_pic_order_cnt[0] = readSe(r);
    if (pps.pic_order_present_flag && !sh.field_pic_flag) sh.delta_pic_order_cnt[1] = readSe(r);
  }
  if (pps.redundant_pic_cnt_present_flag) sh.redundant_pic_cnt = readUe(r);
  if (kind == kB) sh.direct_spatial_mv_pred_flag = readU(r, 1);

  // The weight table runs over the slice's active references: the
  // override when the slice gives one, else the PPS defaults.
  std::uint32_t l0Minus1 = static_cast<std::uint32_t>(pps.num_ref_idx_l0_active_minus1);
  std::uint32_t l1Minus1 = static_cast<std::uint32_t>(pps.num_ref_idx_l1_active_minus1);
  if (kind == kP || kind == kSP || kind == kB) {
    sh.num_ref_idx_active_override_flag = readU(r, 1);
    if (sh.num_ref_idx_active_override_flag) {
      sh.num_ref_idx_l0_active_minus1 = readUe(r);
      l0Minus1 = static_cast<std::uint32_t>(sh.num_ref_idx_l0_active_minus1);
      if (kind == kB) {
        sh.num_ref_idx_l1_active_minus1 = readUe(r);
        l1Minus1 = static_cast<std::uint32_t>(sh.num_ref_idx_l1_active_minus1);
      }
    }
  }
  parseReordering(r, kind, sh);
  if ((pps.weighted_pred_flag && (kind == kP || kind == kSP)) ||
      (pps.weighted_bipred_idc == 1 && kind == kB)) {
    if (!parsePredWeightTable(r, kind, sps, l0Minus1, l1Minus1, sh)) return false;
  }
  if (nal.nal_ref_idc != 0) parseRefPicMarking(r, idr, sh);
  if (pps.entropy_coding_mode_flag && kind != kI && kind != kSI) sh.cabac_init_idc = readUe(r);
  sh.slice_qp_delta = readSe(r);
  if (kind == kSP || kind == kSI) {
    if (kind == kSP) sh.sp_for_switch_flag = readU(r, 1);
    sh.slice_qs_delta = readSe(r);
  }
  if (pps.deblocking_filter_control_present_flag) {
    sh.disable_deblocking_filter_idc = readUe(r);
    if (sh.disable_deblocking_filter_idc != 1) {
      sh.slice_alpha_c0_offset_div2 = readSe(r);
      sh.slice_beta_offset_div2 = readSe(r);
    }
  }
  if (pps.num_slice_groups_minus1 > 0 && pps.slice_group_map_type >= 3 &&
      pps.slice_group_map_type <= 5) {
    sh.slice_group_change_cycle = readU(r, sliceGroupChangeCycleWidth(sps, pps));
  }
  return true;
}
