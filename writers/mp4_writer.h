#pragma once

#include <cstdint>
#include <memory>

#include "writers/mp4/mp4_index.h"
#include "writers/staged_writer.h"
#include "xtd/dstring.h"

// Turns an H.264 archive into a progressive MP4 file next to it: ftyp, the
// index (moov), then the frames (mdat), so that it plays while it
// downloads. The archive is a finished file: a first pass over its frames
// (indexFrame) gives every sample's size and time, the head is written from
// that, and the second pass (writeFrame) appends each frame's NAL units as
// the archive carries them, once, without their FLV framing. Each frame is
// timed by its capture clock.
class MP4Writer : public StagedWriter {
 public:
  // Output collected in memory before it is written.
  static constexpr std::uint32_t kBufferSize = 0x100000;

  explicit MP4Writer(xtd::wstrview archivePath);

  bool acceptsHeader(const xtd::strview* header) override;
  bool open(const xtd::strview* header) override;
  bool wantsIndex() const override { return true; }
  bool indexFrame(const xtd::strview* frame, std::uint32_t seconds, std::uint32_t microseconds, int kind) override;
  bool writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int kind) override;
  std::int64_t frameTime() const override { return frameTime_; }
  std::int64_t endTime() const override { return static_cast<std::int64_t>(index_.durationMicros()); }
  bool complete(const platform::FileStatus* archive) override;
  std::unique_ptr<StagedFile> takeOutput() override;

  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }

 private:
  bool writeHead();
  bool append(const char* data, std::uint32_t size);
  bool flush();
  bool writeOut(const char* data, std::uint32_t size);

  Mp4Index index_;
  // Copies of the parameter sets: the header's view ends with open.
  xtd::dstring sps_;
  xtd::dstring pps_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::uint32_t held_ = 0;
  bool opened_ = false;
  bool headWritten_ = false;
  bool completed_ = false;
  // Samples written in the second pass, and where the last one begins.
  std::uint32_t written_ = 0;
  std::int64_t frameTime_ = 0;
};
