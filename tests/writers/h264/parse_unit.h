#pragma once

// Feeds test units to parseNalUnit from exact-size heap copies, so that a
// read past a unit's end is an ASan report rather than a silent success.

#include "writers/h264/nal_unit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

inline std::size_t parseUnit(H264ParseContext& context, const std::vector<std::uint8_t>& unit) {
  const std::vector<std::uint8_t> copy(unit);
  return parseNalUnit(copy.size(), copy.data(), context);
}

template <std::size_t N>
std::size_t parseUnit(H264ParseContext& context, const std::uint8_t (&unit)[N]) {
  return parseUnit(context, std::vector<std::uint8_t>(unit, unit + N));
}
