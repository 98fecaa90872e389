// The zone comes from TZ: POSIX only (Windows takes it from the machine's settings).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include "platform/clock.h"

namespace {

TEST(LocalTimeAt, FollowsTz) {
  struct Case {
    const char* tz;
    platform::LocalTime expected;
  };
  // 2024-06-15 12:30:00 UTC
  for (const Case& c : {Case{"UTC", {2024, 6, 15, 12, 30, 0, 0}}, Case{"Asia/Kolkata", {2024, 6, 15, 18, 0, 0, 19800}},
                        Case{"America/St_Johns", {2024, 6, 15, 10, 0, 0, -9000}}}) {
    ::setenv("TZ", c.tz, 1);
    ::tzset();  // the layer reads TZ once per process
    platform::LocalTime t;
    ASSERT_TRUE(platform::localTimeAt(1718454600, t)) << c.tz;
    const platform::LocalTime& e = c.expected;
    EXPECT_TRUE(t.year == e.year && t.month == e.month && t.day == e.day && t.hour == e.hour && t.minute == e.minute &&
                t.second == e.second && t.utcOffsetSeconds == e.utcOffsetSeconds)
        << c.tz << " " << t.hour << ":" << t.minute << " " << t.utcOffsetSeconds;
  }
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
