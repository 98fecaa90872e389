#include "writers/h264/picture_size.h"

void codedPictureSize(const SeqParameterSet& sps, std::int32_t& width, std::int32_t& height) {
  const std::uint32_t widthMbs = static_cast<std::uint32_t>(sps.pic_width_in_mbs_minus1) + 1u;
  const std::uint32_t mapUnits = static_cast<std::uint32_t>(sps.pic_height_in_map_units_minus1) + 1u;
  const std::uint32_t heightMbs = (sps.frame_mbs_only_flag ? 1u : 2u) * mapUnits;
  width = static_cast<std::int32_t>(widthMbs * 16u);
  height = static_cast<std::int32_t>(heightMbs * 16u);
}
