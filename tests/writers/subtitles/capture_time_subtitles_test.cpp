#include "writers/subtitles/capture_time_subtitles.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kNoon = 1718454600;  // 2024-06-15 12:30:00 UTC

// Fixed zones, so that the table does not depend on the machine's.
template <std::int32_t Offset>
bool zone(std::int64_t seconds, platform::LocalTime& out) {
  const std::time_t shifted = static_cast<std::time_t>(seconds + Offset);
  const std::tm* f = std::gmtime(&shifted);
  out = {f->tm_year + 1900, f->tm_mon + 1, f->tm_mday, f->tm_hour, f->tm_min, f->tm_sec, Offset};
  return true;
}
bool unknownZone(std::int64_t, platform::LocalTime&) { return false; }

struct Frame {
  std::int64_t output;
  std::uint32_t second, micros;
};

// 25 fps from 0.6 s into a capture second.
std::vector<Frame> steady(int count) {
  std::vector<Frame> frames;
  for (int k = 0; k < count; ++k)
    frames.push_back({k * 40000LL, kNoon + (600000u + 40000u * k) / 1000000u, (600000u + 40000u * k) % 1000000u});
  return frames;
}

TEST(CaptureTimeSubtitles, OneCuePerCaptureSecondTimedOnTheOutput) {
  struct Case {
    const char* name;
    CaptureTimeSubtitles::LocalTimeAt zone;
    std::vector<Frame> frames;
    std::int64_t end;
    const char* srt;
  };
  const Case cases[] = {
      {"steady", zone<19800>, steady(50), 2000000,
       "1\n00:00:00,000 --> 00:00:00,400\n2024-06-15 18:00:00 +05:30\n\n"
       "2\n00:00:00,400 --> 00:00:01,400\n2024-06-15 18:00:01 +05:30\n\n"
       "3\n00:00:01,400 --> 00:00:02,000\n2024-06-15 18:00:02 +05:30\n\n"},
      {"gap", zone<-18000>, {{0, kNoon, 0}, {500000, kNoon, 500000}, {1000000, kNoon + 5, 0}}, 1040000,
       "1\n00:00:00,000 --> 00:00:01,000\n2024-06-15 07:30:00 -05:00\n\n"
       "2\n00:00:01,000 --> 00:00:01,040\n2024-06-15 07:30:05 -05:00\n\n"},
      {"step back", zone<-12600>, {{0, kNoon + 1, 900000}, {40000, kNoon, 950000}, {80000, kNoon + 1, 0}}, 120000,
       "1\n00:00:00,000 --> 00:00:00,040\n2024-06-15 09:00:01 -03:30\n\n"
       "2\n00:00:00,040 --> 00:00:00,080\n2024-06-15 09:00:00 -03:30\n\n"
       "3\n00:00:00,080 --> 00:00:00,120\n2024-06-15 09:00:01 -03:30\n\n"},
      {"single frame, zone unknown", unknownZone, {{0, kNoon, 0}}, 40000,
       "1\n00:00:00,000 --> 00:00:00,040\n2024-06-15 12:30:00 +00:00\n\n"},
      {"past 100 hours", zone<0>, {{359999960000, kNoon, 0}, {360000123456, kNoon + 1, 0}}, 360000163456,
       "1\n99:59:59,960 --> 100:00:00,123\n2024-06-15 12:30:00 +00:00\n\n"
       "2\n100:00:00,123 --> 100:00:00,163\n2024-06-15 12:30:01 +00:00\n\n"},
  };
  for (const Case& c : cases) {
    std::string text;
    CaptureTimeSubtitles subtitles([&](const char* data, std::size_t size) { return text.append(data, size), true; },
                                   c.zone);
    for (const Frame& f : c.frames) EXPECT_TRUE(subtitles.addFrame(f.output, f.second, f.micros)) << c.name;
    EXPECT_TRUE(subtitles.finish(c.end)) << c.name;
    EXPECT_EQ(text, c.srt) << c.name;
  }
}

// A long recording costs a few large writes, and a failed one ends the track.
TEST(CaptureTimeSubtitles, WritesInLargePiecesUntilTheSinkFails) {
  constexpr std::uint32_t kCues = 100000;
  for (const std::size_t failingWrite : {std::size_t{0}, std::size_t{3}}) {
    std::vector<std::size_t> pieces;
    std::string text;
    CaptureTimeSubtitles subtitles(
        [&](const char* data, std::size_t size) {
          pieces.push_back(size);
          text.append(data, size);
          return pieces.size() != failingWrite;
        },
        zone<0>);
    std::uint32_t added = 0;
    while (added < kCues && subtitles.addFrame(added * 1000000LL, kNoon + added, 0)) ++added;
    EXPECT_EQ(subtitles.finish(kCues * 1000000LL), failingWrite == 0);
    for (const std::size_t size : pieces) EXPECT_LE(size, CaptureTimeSubtitles::kPieceSize);
    if (failingWrite != 0) {
      EXPECT_EQ(pieces.size(), failingWrite);
      continue;
    }
    EXPECT_LE(pieces.size(), text.size() / (CaptureTimeSubtitles::kPieceSize / 2) + 1);
    EXPECT_TRUE(text.ends_with("100000\n27:46:39,000 --> 27:46:40,000\n2024-06-16 16:16:39 +00:00\n\n"));
  }
}

}  // namespace
