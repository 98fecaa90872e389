#pragma once

#include <memory>

#include "writers/avi_file.h"
#include "writers/staged_writer.h"
#include "xtd/dstring.h"

// Turns an MJPEG archive into an AVI file next to it, one chunk per frame.
class AVIWriter : public StagedWriter {
 public:
  explicit AVIWriter(xtd::wstrview archivePath);

  bool acceptsHeader(const xtd::strview* header) override;
  bool open(const xtd::strview* header) override;
  // Only the size the file would reach: what writeFrame refuses for its frames.
  bool indexFrame(const xtd::strview* frame, std::uint32_t seconds, std::uint32_t microseconds, int kind) override;
  bool writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int kind) override;
  // Frame i is shown at i / rate.
  std::int64_t frameTime() const override { return frames_ == 0 ? 0 : timeOf(frames_ - 1); }
  std::int64_t endTime() const override { return timeOf(frames_); }
  bool complete(const platform::FileStatus* archive) override;
  std::unique_ptr<StagedFile> takeOutput() override;

 private:
  // Gone before the output they describe: an unfinished output is not
  // patched, only closed and removed.
  std::unique_ptr<AviFile> file_;
  std::unique_ptr<AviStream> stream_;
  std::int64_t timeOf(std::uint64_t frame) const {
    return static_cast<std::int64_t>(frame * 1000000 / framesPerSecond_);
  }

  // The file indexFrame's frames would make, for its size alone.
  AviFile sized_;
  bool completed_ = false;
  std::uint32_t framesPerSecond_ = 30;
  std::uint64_t frames_ = 0;
};
