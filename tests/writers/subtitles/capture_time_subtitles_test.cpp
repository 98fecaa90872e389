#include "writers/subtitles/capture_time_subtitles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Fixed zones, so that the table does not depend on the machine's; its
// moments all fall on 2024-06-15 in them.
template <std::int32_t Offset>
bool zone(std::int64_t seconds, platform::LocalTime& out) {
  const int local = static_cast<int>((seconds + Offset) % 86400);
  return out = {2024, 6, 15, local / 3600, local / 60 % 60, local % 60, Offset}, true;
}

TEST(CaptureTimeSubtitles, OneCuePerCaptureSecondTimedOnTheOutput) {
  using Frames = std::vector<std::pair<std::int64_t, std::int64_t>>;  // output and capture time, microseconds
  const std::int64_t s = 1718454600 * 1000000LL;                        // 2024-06-15 12:30:00 UTC
  Frames steady;                                                        // 25 fps from 0.6 s into a capture second
  for (int k = 0; k < 50; ++k) steady.push_back({k * 40000, s + 600000 + 40000 * k});
  const struct { CaptureTimeSubtitles::LocalTimeAt zone; Frames frames; std::int64_t end; const char* srt; } cases[] = {
      {zone<19800>, steady, 2000000,
       "1\n00:00:00,000 --> 00:00:00,400\n2024-06-15 18:00:00 +05:30\n\n2\n00:00:00,400 --> 00:00:01,400\n"
       "2024-06-15 18:00:01 +05:30\n\n3\n00:00:01,400 --> 00:00:02,000\n2024-06-15 18:00:02 +05:30\n\n"},
      // Past 100 hours, the clock steps back a second and forward again, then 5 seconds hold no frames.
      {zone<-12600>, {{359999960000, s + 1900000}, {360000000000, s + 950000}, {360000040000, s + 1000000},
                      {360000080000, s + 6000000}}, 360000123456,
       "1\n99:59:59,960 --> 100:00:00,000\n2024-06-15 09:00:01 -03:30\n\n"
       "2\n100:00:00,000 --> 100:00:00,040\n2024-06-15 09:00:00 -03:30\n\n"
       "3\n100:00:00,040 --> 100:00:00,080\n2024-06-15 09:00:01 -03:30\n\n"
       "4\n100:00:00,080 --> 100:00:00,123\n2024-06-15 09:00:06 -03:30\n\n"},
      {[](std::int64_t, platform::LocalTime&) { return false; }, {{0, s}}, 40000,  // a single frame, zone unknown
       "1\n00:00:00,000 --> 00:00:00,040\n2024-06-15 12:30:00 +00:00\n\n"},
  };
  for (const auto& c : cases) {
    std::string text;
    int writes = 0;  // the text is handed over in large pieces, not cue by cue
    CaptureTimeSubtitles subtitles([&](const char* data, std::size_t n) { return text.append(data, n), ++writes; },
                                   c.zone);
    for (const auto& [output, capture] : c.frames) subtitles.addFrame(output, capture / 1000000, capture % 1000000);
    EXPECT_TRUE(subtitles.finish(c.end));
    EXPECT_EQ(text, c.srt);
    EXPECT_EQ(writes, 1);
  }
}

}  // namespace
