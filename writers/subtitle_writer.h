#pragma once

#include <cstdint>
#include <memory>

#include "commit/staged_file.h"
#include "platform/files.h"
#include "writers/subtitles/capture_time_subtitles.h"
#include "xtd/strview.h"

// Writes NAME.srt beside an archive's output: the capture time of the
// frames, shown while the output plays. Staged and committed like the
// output itself.
class SubtitleWriter {
 public:
  explicit SubtitleWriter(xtd::wstrview archivePath);

  // Creates the file under its temporary name.
  bool open();
  // Each frame as the output's writer wrote it: where it begins on the
  // output's timeline (microseconds) and when it was captured.
  bool addFrame(std::int64_t outputMicros, std::uint32_t seconds, std::uint32_t microseconds);
  // The last cue ends at `endMicros`; the file is sealed like its output.
  bool complete(std::int64_t endMicros, const platform::FileStatus* archive);
  std::unique_ptr<StagedFile> takeOutput() { return std::move(output_); }

  const WriteFailure& failure() const { return failure_; }
  const char16_t* outputExtension() const { return u"srt"; }

 private:
  bool write(const char* data, std::size_t size);

  std::unique_ptr<StagedFile> output_;
  CaptureTimeSubtitles cues_;
  WriteFailure failure_;
};
