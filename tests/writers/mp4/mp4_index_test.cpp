#include "writers/mp4/mp4_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Capture times are microseconds since 1970; the cases give them in ms from here.
constexpr std::int64_t kBaseMicros = 1700000000000000;

TEST(Mp4IndexTest, DurationsStayPositiveAndFollowTheRebasedClock) {
  struct Case { const char* name; std::vector<std::int64_t> captureMs; std::vector<std::uint32_t> durationMs; };
  const Case cases[] = {
      {"steady", {0, 40, 80, 120}, {40, 40, 40, 40}},
      {"jitter", {0, 39, 81, 120}, {39, 42, 39, 39}},
      {"step back", {0, 40, 100, 30, 80}, {40, 60, 60, 50, 50}},
      {"equal times", {0, 30, 30, 70}, {30, 30, 40, 40}},
      {"jump past an hour", {0, 40, 3600081, 3600101}, {40, 40, 20, 20}},
      {"an hour's gap is kept", {0, 3600000, 3600040}, {3600000, 40, 40}},
      {"second sample back", {1000, 0, 30}, {40, 30, 30}},
      {"single sample", {0}, {40}},
  };
  for (const Case& c : cases) {
    Mp4Index index;
    std::uint64_t expectedTime = 0;
    for (std::size_t i = 0; i < c.captureMs.size(); ++i) {
      EXPECT_EQ(index.add(100, kBaseMicros + c.captureMs[i] * 1000, 0, true), static_cast<std::int64_t>(expectedTime))
          << c.name << " sample " << i;
      expectedTime += c.durationMs[i] * 1000u;
    }
    for (std::uint32_t i = 0; i < index.count(); ++i) EXPECT_EQ(index.duration(i), c.durationMs[i] * 1000u) << c.name;
    EXPECT_EQ(index.durationMicros(), expectedTime) << c.name;
  }
}

}  // namespace
