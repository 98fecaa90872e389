#include "writers/h264/picture_size.h"

void codedPictureSize(const SeqParameterSet& sps, std::int32_t& width, std::int32_t& height) {
  const std::uint32_t widthMbs = static_cast<std::uint32_t>(sps.pic_width_in_mbs_minus1) + 1u;
  const std::uint32_t mapUnits = static_cast<std::uint32_t>(sps.pic_height_in_map_units_minus1) + 1u;
  const std::uint32_t heightMbs = (sps.frame_mbs_only_flag ? 1u : 2u) * mapUnits;
  width = static_cast<std::int32_t>(widthMbs * 16u);
  height = static_cast<std::int32_t>(heightMbs * 16u);
}

void displayPictureSize(const SeqParameterSet& sps, std::int32_t& width, std::int32_t& height) {
  codedPictureSize(sps, width, height);
  if (!sps.frame_cropping_flag) return;
  const std::int32_t chroma = sps.separate_colour_plane_flag ? 0 : sps.chroma_format_idc;
  const std::int64_t unitX = chroma == 1 || chroma == 2 ? 2 : 1;
  const std::int64_t unitY = (chroma == 1 ? 2 : 1) * (sps.frame_mbs_only_flag ? 1 : 2);
  const std::int64_t cropX = unitX * (std::int64_t{sps.frame_crop_left_offset} + sps.frame_crop_right_offset);
  const std::int64_t cropY = unitY * (std::int64_t{sps.frame_crop_top_offset} + sps.frame_crop_bottom_offset);
  if (cropX < 0 || cropY < 0 || cropX >= width || cropY >= height) return;
  width -= static_cast<std::int32_t>(cropX);
  height -= static_cast<std::int32_t>(cropY);
}
