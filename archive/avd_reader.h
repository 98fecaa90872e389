#pragma once

#include <cstdint>

#include "archive/avd_record_header.h"
#include "platform/files.h"
#include "xtd/dstring.h"

// Walks one archive record by record. Records are handed out as views into
// the reader's own buffer, valid until the reader's next call; the file is
// read sequentially in large refills and no payload is copied.
class AvdReader {
 public:
  static constexpr std::uint32_t kReadChunk = 10 * 1024 * 1024;

  AvdReader() = default;
  ~AvdReader();
  AvdReader(const AvdReader&) = delete;
  AvdReader& operator=(const AvdReader&) = delete;

  // Opens the archive for reading; others may keep it open for writing.
  bool openArchive(xtd::wstrview path);

  // Sets `out` to the next `n` bytes, or fewer at the end of the data.
  // False only when the file could not be reopened or a read failed.
  bool fetch(xtd::strview& out, std::uint32_t n);

  // The next whole record: its header (null when the records have ended)
  // and its payload in `out`.
  const AvdRecordHeader* readRecord(xtd::strview& out);

  // The next frame: its kind (1 or 2) with the payload in `out` and its time
  // in ticks, or -1 when the frames have ended.
  int nextFrame(xtd::strview& out, std::uint32_t* ticks);

  // Releases the file; the buffer's storage and the path stay.
  void closeArchive();

  // Overrides the refill size (tests use it to reach buffer boundaries).
  void setChunkForTesting(std::uint32_t chunk) { chunk_ = chunk; }
  std::uint32_t bufferCapacity() const { return buffer_.capacity(); }

 private:
  bool refill(std::uint32_t n);

  xtd::dwstring path_;
  xtd::dstring buffer_;
  const char* cursor_ = nullptr;
  std::uint32_t remaining_ = 0;
  std::uint32_t chunk_ = kReadChunk;
  // 64-bit so that archives of 2 GiB and more are read correctly.
  std::uint64_t filePos_ = 0;
  platform::FileHandle handle_ = platform::kInvalidFile;
  bool eof_ = false;
  AvdRecordHeader header_;
};
