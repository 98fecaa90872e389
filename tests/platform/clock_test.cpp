#include "platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

// Whatever the machine's zone: the clock time is UTC plus the offset.
TEST(LocalTimeAt, ClockTimeIsUtcPlusOffset) {
  const std::int64_t june2024 = 1718454600;
  platform::LocalTime t;
  ASSERT_TRUE(platform::localTimeAt(june2024, t));
  const std::time_t shifted = static_cast<std::time_t>(june2024 + t.utcOffsetSeconds);
  const std::tm u = *std::gmtime(&shifted);
  EXPECT_EQ(std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second),
            std::tuple(u.tm_year + 1900, u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec));
}
