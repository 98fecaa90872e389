#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/clock.h"

// The subtitle track (SubRip) that shows the capture time while an output
// plays: one cue per second of capture time that holds frames, labelled
// with that second in the machine's local time and its offset from UTC,
// timed on the output's own timeline.
//
// It keeps one pending cue and a fixed buffer, so a recording of millions
// of frames costs no allocation per frame and a few calls of the sink.
class CaptureTimeSubtitles {
 public:
  // Takes the next piece of the file's text; false when the write failed.
  using Sink = std::function<bool(const char* data, std::size_t size)>;
  // Breaks a second since 1970 UTC into the local time shown; a test seam.
  using LocalTimeAt = bool (*)(std::int64_t seconds, platform::LocalTime& out);

  // The most the sink is handed at once.
  static constexpr std::size_t kPieceSize = 64 * 1024;

  explicit CaptureTimeSubtitles(Sink sink, LocalTimeAt localTimeAt = platform::localTimeAt);
  CaptureTimeSubtitles(const CaptureTimeSubtitles&) = delete;
  CaptureTimeSubtitles& operator=(const CaptureTimeSubtitles&) = delete;

  // Each frame in output order: its time on the output's timeline and its
  // capture time. Only the whole second decides the frame's cue; the
  // microseconds are taken as the archive gives them. False once the sink
  // has failed.
  bool addFrame(std::int64_t outputMicros, std::uint32_t captureSeconds, std::uint32_t captureMicros);
  // The end of the last frame on the output's timeline: writes the last cue
  // and hands over what is buffered. Nothing is written for no frames.
  bool finish(std::int64_t endMicros);

 private:
  void closeCue(std::int64_t endMicros);
  bool flush();

  Sink sink_;
  LocalTimeAt localTimeAt_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
  bool pending_ = false;
  std::uint32_t cueSecond_ = 0;
  std::int64_t cueStart_ = 0;
  std::uint64_t cueNumber_ = 0;
};
