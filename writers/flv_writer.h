#pragma once

#include <cstdint>
#include <memory>

#include "platform/files.h"
#include "writers/staged_writer.h"
#include "xtd/dstring.h"
#include "xtd/dstringbuf.h"

// Turns an H.264 archive into an FLV file next to it. The archive already
// holds every frame as a complete FLV video tag; the writer puts the header
// block in front, restamps each tag relative to the first frame, collects
// the output in memory and writes it in blocks of about 1 MiB.
class FLVWriter : public StagedWriter {
 public:
  static constexpr std::uint32_t kFlushThreshold = 0x100000;
  // The buffer's storage: room for what a flush leaves at most, so that
  // frames are copied once, into it, and written from there. A frame too
  // large for it is written from the archive's own buffer.
  static constexpr std::uint32_t kBufferCapacity = 2 * kFlushThreshold;

  explicit FLVWriter(xtd::wstrview archivePath);

  bool acceptsHeader(const xtd::strview* header) override;
  // Creates the output file once the header has been accepted.
  bool open(const xtd::strview* header) override;
  bool writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int kind) override;
  std::int64_t frameTime() const override { return std::int64_t{lastMs_} * 1000; }
  std::int64_t endTime() const override;
  bool complete(const platform::FileStatus* archive) override;
  std::unique_ptr<StagedFile> takeOutput() override;

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }

 private:
  // Writes everything held in memory to the file in one write.
  bool flush();
  bool writeOut(const char* data, std::uint32_t size);

  // Allocated by open and given back by complete.
  std::unique_ptr<xtd::dstringbuf> buffer_;
  // Bytes appended since the last flush; the same as the buffer's held size
  // without walking its chunks for every frame.
  std::uint64_t pending_ = 0;
  bool started_ = false;
  std::uint32_t startTicks_ = 0;
  std::uint32_t lastMs_ = 0;
  // The timestamp of the frame before the last, for the last one's length.
  std::uint32_t previousMs_ = 0;
  std::uint64_t frames_ = 0;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::uint64_t written_ = 0;
  bool opened_ = false;
  bool completed_ = false;
  xtd::dstring headerBlock_;
  std::uint32_t durationOffset_ = 0;
};
