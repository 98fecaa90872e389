#pragma once

#include "writers/h264/h264_parse_context.h"

#include <cstddef>
#include <cstdint>

// Parses one NAL unit given without start code (its first byte is the NAL
// header) into `context`: the header always, then the record of its kind
// (7 SPS, 8 PPS, 9 access unit delimiter, 1/5/19 slice header). Returns
// the position in `bytes` where the payload copy stopped.
std::size_t parseNalUnit(std::size_t length, const std::uint8_t* bytes, H264ParseContext& context);
