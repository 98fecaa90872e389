// The zone comes from TZ: POSIX only (Windows takes it from the machine's settings).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "platform/clock.h"

TEST(LocalTimeAt, OffsetFollowsTz) {
  for (const auto& [tz, offset] : {std::pair{"UTC", 0}, {"Asia/Kolkata", 19800}, {"America/St_Johns", -9000}}) {
    ::setenv("TZ", tz, 1);
    ::tzset();  // the layer reads TZ once per process
    platform::LocalTime t;
    EXPECT_TRUE(platform::localTimeAt(1718454600, t) && t.utcOffsetSeconds == offset) << tz;  // June 2024
  }
}
