#include "writers/subtitles/capture_time_subtitles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace {

// Room one cue may need: a 20-digit number, two times whose hours may run
// to 10 digits, and the label; snprintf truncates anything stranger.
constexpr std::size_t kLongestCue = 256;

// What the cue shows when the system cannot tell the local time.
platform::LocalTime utcAt(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds moment{std::chrono::seconds{seconds}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss clock{moment - day};
  platform::LocalTime utc;
  utc.year = static_cast<int>(date.year());
  utc.month = static_cast<int>(unsigned{date.month()});
  utc.day = static_cast<int>(unsigned{date.day()});
  utc.hour = static_cast<int>(clock.hours().count());
  utc.minute = static_cast<int>(clock.minutes().count());
  utc.second = static_cast<int>(clock.seconds().count());
  return utc;
}

// A time on the output's timeline as HH:MM:SS,mmm; hours simply grow past
// two digits on a very long output.
struct SrtTime {
  long long hours;
  int minutes, seconds, millis;
};

SrtTime srtTime(std::int64_t micros) {
  const long long ms = std::max<std::int64_t>(micros, 0) / 1000;
  return SrtTime{ms / 3600000, static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                 static_cast<int>(ms % 1000)};
}

}  // namespace

CaptureTimeSubtitles::CaptureTimeSubtitles(Sink sink, LocalTimeAt localTimeAt)
    : sink_(std::move(sink)), localTimeAt_(localTimeAt), buffer_(new char[kPieceSize]) {}

bool CaptureTimeSubtitles::addFrame(std::int64_t outputMicros, std::uint32_t captureSeconds,
                                    std::uint32_t /*captureMicros*/) {
  if (failed_) return false;
  // Any other second, earlier ones included when the clock steps back, starts a cue.
  if (pending_ && captureSeconds == cueSecond_) return true;
  if (pending_) {
    if (kPieceSize - used_ < kLongestCue && !flush()) return false;
    // Seconds without frames get no cue: the one before the gap lasts until
    // the next cue starts, so the capture time stays on screen throughout.
    closeCue(outputMicros);
  }
  pending_ = true;
  cueSecond_ = captureSeconds;
  cueStart_ = outputMicros;
  return true;
}

bool CaptureTimeSubtitles::finish(std::int64_t endMicros) {
  if (failed_) return false;
  if (pending_) {
    if (kPieceSize - used_ < kLongestCue && !flush()) return false;
    closeCue(endMicros);
    pending_ = false;
  }
  return flush();
}

void CaptureTimeSubtitles::closeCue(std::int64_t endMicros) {
  platform::LocalTime local;
  if (!localTimeAt_(cueSecond_, local)) local = utcAt(cueSecond_);
  const SrtTime from = srtTime(cueStart_);
  const SrtTime to = srtTime(std::max(endMicros, cueStart_));
  const std::int32_t offset = local.utcOffsetSeconds;
  const std::int32_t offsetSize = offset < 0 ? -offset : offset;
  const int n = std::snprintf(
      buffer_.get() + used_, kPieceSize - used_,
      "%llu\n%02lld:%02d:%02d,%03d --> %02lld:%02d:%02d,%03d\n%04d-%02d-%02d %02d:%02d:%02d %c%02d:%02d\n\n",
      static_cast<unsigned long long>(++cueNumber_), from.hours, from.minutes, from.seconds, from.millis, to.hours,
      to.minutes, to.seconds, to.millis, local.year, local.month, local.day, local.hour, local.minute, local.second,
      offset < 0 ? '-' : '+', static_cast<int>(offsetSize / 3600), static_cast<int>(offsetSize / 60 % 60));
  used_ += std::min(static_cast<std::size_t>(std::max(n, 0)), kPieceSize - used_ - 1);
}

bool CaptureTimeSubtitles::flush() {
  if (used_ == 0) return true;
  const std::size_t size = std::exchange(used_, 0);
  failed_ = !sink_(buffer_.get(), size);
  return !failed_;
}
