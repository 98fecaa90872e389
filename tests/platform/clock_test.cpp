#include "platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

// Whatever the machine's zone, its clock time less its offset is UTC; in
// winter and in summer, so that either side of a daylight saving change counts.
TEST(LocalTimeAt, ClockTimeLessOffsetIsUtc) {
  for (const std::int64_t seconds : {1704113100LL, 1718454600LL}) {  // 2024-01-01 12:45, 2024-06-15 12:30 UTC
    platform::LocalTime local;
    ASSERT_TRUE(platform::localTimeAt(seconds, local));
    const std::time_t back = static_cast<std::time_t>(seconds + local.utcOffsetSeconds);
    const std::tm utc = *std::gmtime(&back);
    EXPECT_EQ(local.second + 60 * (local.minute + 60 * local.hour), utc.tm_sec + 60 * (utc.tm_min + 60 * utc.tm_hour));
    EXPECT_EQ(local.day + 100 * (local.month + 100 * local.year), utc.tm_mday + 100 * (utc.tm_mon + 1 + 100 * (utc.tm_year + 1900)));
  }
}

}  // namespace
