#pragma once

#include <cstdint>

#include "platform/files.h"
#include "writers/writer_if.h"
#include "xtd/dstring.h"
#include "xtd/dstringbuf.h"

// Turns an H.264 archive into an FLV file next to it. The archive already
// holds every frame as a complete FLV video tag; the writer puts the header
// block in front, restamps each tag relative to the first frame, collects
// the output in memory and writes it in blocks of about 1 MiB.
class FLVWriter : public WriterIf {
 public:
  static constexpr std::uint32_t kFlushThreshold = 0x100000;

  // Creates (or truncates) the output at once; a failure is only recorded.
  explicit FLVWriter(xtd::wstrview archivePath);
  ~FLVWriter() override;

  bool open(const xtd::strview* header) override;
  bool writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int kind) override;
  void finish() override;

  const xtd::dwstring& outputPath() const { return outputPath_; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }

 private:
  // Writes everything held in memory to the file in one write.
  bool flush();

  xtd::dstringbuf buffer_;
  // Bytes appended since the last flush; the same as the buffer's held size
  // without walking its chunks for every frame.
  std::uint64_t pending_ = 0;
  bool started_ = false;
  std::uint32_t startTicks_ = 0;
  std::uint32_t lastMs_ = 0;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  xtd::dwstring inputPath_;
  xtd::dwstring outputPath_;
  platform::FileHandle file_ = platform::kInvalidFile;
  bool deleteInputOnFinish_ = true;
  bool opened_ = false;
  // Set by the first output operation that fails; the archive is then kept.
  bool failed_ = false;
  xtd::dstring headerBlock_;
  std::uint32_t durationOffset_ = 0;
};
