#pragma once

#include <cstddef>
#include <cstdint>

struct RbspCopy {
  std::size_t stopPosition;  // index in the NAL unit where copying ended
  std::size_t length;        // bytes written to the output
};

// Copies the payload after the NAL header byte into `output` (room for
// `length` bytes), dropping each emulation-prevention 03 of 00 00 03 and
// stopping at 00 00 01, which would begin the next unit.
RbspCopy unescapeRbsp(std::size_t length, const std::uint8_t* input, std::uint8_t* output);
