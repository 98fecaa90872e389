#pragma once

#include <cstdint>

namespace platform {

// Wall-clock time since 1970-01-01 UTC.
struct WallTime {
  std::uint64_t seconds = 0;
  std::uint32_t microseconds = 0;
};

WallTime systemTime();

}  // namespace platform
