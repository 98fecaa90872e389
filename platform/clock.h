#pragma once

#include <cstdint>

namespace platform {

// Wall-clock time since 1970-01-01 UTC.
struct WallTime {
  std::uint64_t seconds = 0;
  std::uint32_t microseconds = 0;
};

WallTime systemTime();

// A moment as this machine's clocks show it: month 1-12, day 1-31, and the
// offset from UTC in force at that moment, daylight saving included.
struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::int32_t utcOffsetSeconds = 0;
};

// The wall-clock time at `seconds` since 1970 UTC in this machine's time
// zone (TZ on POSIX, read once per process); false if the system cannot tell.
bool localTimeAt(std::int64_t seconds, LocalTime& out);

}  // namespace platform
