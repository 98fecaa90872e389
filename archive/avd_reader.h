#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "commit/archive_hold.h"
#include "archive/avd_record_header.h"
#include "archive/record_check.h"
#include "archive/record_search.h"
#include "commit/held_archive.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "xtd/dstring.h"

// Walks one archive record by record. Records are handed out as views into
// the reader's own buffer, valid until the reader's next call; the file is
// read sequentially in large refills and no payload is copied.
class AvdReader {
 public:
  static constexpr std::uint32_t kReadChunk = 10 * 1024 * 1024;

  // How the records ended.
  enum class End : std::uint8_t {
    None,          // they have not
    EndOfFile,     // at the end of the file, between two records
    CutShort,      // in a last record cut short by the end of the file
    InvalidType,   // at a record of a type that does not exist
    StreamHeader,  // at a further stream header (a record of zeros is one)
    ReadFailed,    // a read or seek failed: what follows is unknown
  };

  // What follows the record at which the records stopped.
  enum class Tail : std::uint8_t { Zeros, Data, ReadFailed };

  AvdReader() = default;
  ~AvdReader();
  AvdReader(const AvdReader&) = delete;
  AvdReader& operator=(const AvdReader&) = delete;

  // Opens the archive for reading; others may keep it open for writing.
  // Refuses anything but a regular file, without blocking.
  bool openArchive(xtd::wstrview path);
  // From the next open on, reads leave the archive's access time as it is
  // where the system allows: the archive stays as it was.
  void keepAccessTime(bool keep) { keepAccessTime_ = keep; }

  // Who holds the archive's lock once this reader has asked for it.
  using Claim = HeldArchive::Claim;
  // Takes the lock that keeps other runs of the program off the archive.
  // Throws std::bad_alloc without memory to record it.
  Claim claimArchive();
  // The archive as it stood when it was claimed.
  const platform::FileStatus& statusAtClaim() const { return opened_; }

  // Whether the archive's name still means the file this reader opened.
  enum class Name : std::uint8_t { Same, Gone, Other, Unknown };
  Name checkName();

  // Sets `out` to the next `n` bytes, or fewer at the end of the data.
  // False only when the file could not be reopened or a read failed.
  bool fetch(xtd::strview& out, std::uint32_t n);

  // The next whole record: its header (null when the records have ended)
  // and its payload in `out`.
  const AvdRecordHeader* readRecord(xtd::strview& out);

  // Frame kinds as writers get them, numbered as FLV numbers frame types.
  static constexpr int kKeyFrameKind = 1;
  static constexpr int kInterFrameKind = 2;

  // The next frame: its kind with the payload in `out` and its time in
  // ticks, or -1 when the frames have ended.
  int nextFrame(xtd::strview& out, std::uint32_t* ticks);

  // Salvage. Once the stream header `header` (a record with time `seconds`)
  // has been read, a record whose header or payload does not check out for
  // the codec (record_check.h) no longer ends the frames: the reader skips
  // to where a chain of good records resumes (record_search.h) and goes on
  // there. A further stream header with the same codec and parameter sets
  // is passed over; one that differs comes out of nextFrame as
  // kNewSessionKind, with its payload in `out`. The frames end at the end
  // of the file, at a read that failed, or where nothing good follows: a
  // cut-off record as always, zeros as padding, anything else skipped.
  static constexpr int kNewSessionKind = 0;
  void salvageFrom(xtd::strview header, std::uint32_t seconds);
  // What the salvage passed over.
  struct Skipped {
    std::uint64_t bytes = 0;
    std::uint64_t first = 0;  // the offset of the first stretch
    std::uint32_t places = 0;
  };
  const Skipped& skipped() const { return skipped_; }
  // After a salvage: reads the same records again, from the first frame,
  // with the stream headers that differ in the same places, passing over
  // what was skipped without searching again; what has changed meanwhile
  // ends the frames early.
  void replaySalvage();

  // Searches for the next good record from `from` (see salvageFrom); the
  // false-positive bench and the fuzzer drive the search through this.
  record_search::Result findRecord(std::uint64_t from, const RecordCheck& check, std::uint64_t& found,
                                   record_search::Counts* counts = nullptr);

  // The header of the record read last (a frame's capture time).
  const AvdRecordHeader& record() const { return header_; }
  // The offset of the next record.
  std::uint64_t nextOffset() const { return position(); }
  // Goes back to the record at `offset` (one handed out before) to read the
  // records from there again, as they are in the file now. While
  // `keepCached`, pages read are not given back to the system: a second
  // pass over them follows.
  void rewind(std::uint64_t offset);
  void keepCached(bool keep) { keepCached_ = keep; }

  End end() const { return end_; }
  // Where the records ended: the offset of the record that ended them, or
  // of the read that failed.
  std::uint64_t endOffset() const { return endOffset_; }
  // The system's reason for a failed read.
  const platform::SystemError& readError() const { return readError_; }

  // After a stop at an invalid type or a further stream header: reads the
  // rest of the file behind that record, skipping holes, to tell padding
  // (zeros only) from records that would be lost.
  Tail scanTail();

  // Whether every byte of the file, as it stands once the records have
  // ended, has been examined; the status taken here is what the archive's
  // removal later compares with.
  enum class Extent : std::uint8_t {
    Whole,
    Grew,     // someone appended to it while it was read
    Shrank,   // someone cut it while it was read
    Unknown,  // its status could not be had (see readError)
  };
  Extent checkExtent();
  // The file's size, and all its status, as checkExtent found it.
  std::uint64_t sizeAtEnd() const { return endStatus_.size; }
  const platform::FileStatus& statusAtEnd() const { return endStatus_; }
  // After checkExtent: hands over the open and locked archive with the
  // status its removal is to compare with, and closes the reader.
  ArchiveHold holdArchive();

  // Releases the file; the buffer's storage and the path stay.
  void closeArchive();

  // Whether the archives opened from now on are hashed as they are read:
  // each byte once, in order, however often it is read.
  void hashContent(bool hash) { hashing_ = hash; }
  // Once checkExtent found the archive whole: its SHA-256, the bytes behind
  // a stop read to the end for it; none when the archive was not read whole
  // (or not hashed). Kept until the next open.
  const std::optional<platform::Sha256::Digest>& contentDigest() const { return digest_; }
  // How far into the archive the reading went (holes skipped included),
  // each byte counted once. Kept until the next open.
  std::uint64_t bytesRead() const { return readTo_; }

  // Overrides the refill size (tests use it to reach buffer boundaries).
  void setChunkForTesting(std::uint32_t chunk) { chunk_ = chunk; }
  std::uint32_t bufferCapacity() const { return buffer_.capacity(); }

 private:
  class SearchSource;
  // A stretch of records read in order during a salvage; a new output
  // begins with it when `newOutput`.
  struct Segment {
    std::uint64_t begin;
    std::uint64_t end;
    bool newOutput;
  };
  enum class Mode : std::uint8_t { Plain, Salvage, Replay };

  bool refill(std::uint32_t n);
  // Notes `got` bytes read at `offset` for the count and the hash.
  void took(std::uint64_t offset, const char* data, std::uint32_t got);
  // Notes a hole from `offset` to `end` skipped by a read: zeros.
  void skipped(std::uint64_t offset, std::uint64_t end);
  // Reads the file from `offset` to its end for the hash alone.
  void hashRest(std::uint64_t offset);
  // The bytes from `at` on, at least `n` unless the file ends first.
  bool window(std::uint64_t at, std::uint32_t n, xtd::strview& out);
  // Makes `at` the offset of the next record.
  void moveTo(std::uint64_t at);
  int nextSalvaged(xtd::strview& out, std::uint32_t* ticks);
  int nextReplayed(xtd::strview& out, std::uint32_t* ticks);
  // Passes over the damaged record at `start`; false when the frames end.
  bool skipDamage(std::uint64_t start);
  bool sameSession(xtd::strview header) const;
  void openSegment(std::uint64_t begin, bool newOutput);
  void closeSegment(std::uint64_t end);
  // The offset of the first byte not handed out yet.
  std::uint64_t position() const { return filePos_ - remaining_; }
  const AvdRecordHeader* ended(End how, std::uint64_t offset, xtd::strview& out);

  xtd::dwstring path_;
  xtd::dstring buffer_;
  const char* cursor_ = nullptr;
  std::uint32_t remaining_ = 0;
  std::uint32_t chunk_ = kReadChunk;
  // 64-bit so that archives of 2 GiB and more are read correctly.
  std::uint64_t filePos_ = 0;
  // Where the system's file position stands, when it is known: a read that
  // starts there needs no seek.
  static constexpr std::uint64_t kUnknownPosition = ~std::uint64_t{0};
  std::uint64_t filePosition_ = kUnknownPosition;
  // The cached pages before this offset have been given back.
  std::uint64_t released_ = 0;
  // Forgotten only after the lock has gone with the file.
  HeldArchive held_;
  platform::ScopedFile file_;
  platform::FileStatus opened_;
  // When the file was opened, counted across the process's readers.
  std::uint64_t openOrder_ = 0;
  bool eof_ = false;
  bool keepCached_ = false;
  bool keepAccessTime_ = false;
  AvdRecordHeader header_;

  End end_ = End::None;
  std::uint64_t endOffset_ = 0;
  // Where the bytes behind a stopping record begin.
  std::uint64_t tailOffset_ = 0;
  // The offset up to which the file has been examined.
  std::uint64_t examined_ = 0;
  std::uint64_t failedReadOffset_ = 0;
  platform::SystemError readError_;
  platform::FileStatus endStatus_;

  bool hashing_ = false;
  std::unique_ptr<platform::Sha256> hasher_;
  // The hash holds the file's bytes before this offset; a read that left a
  // gap behind it breaks the hash.
  std::uint64_t hashedTo_ = 0;
  bool hashBroken_ = false;
  std::optional<platform::Sha256::Digest> digest_;
  std::uint64_t readTo_ = 0;
  Mode mode_ = Mode::Plain;
  RecordCheck check_;
  // The stream header of the session read now.
  xtd::dstring session_;
  Skipped skipped_;
  std::vector<Segment> segments_;
  bool segmentOpen_ = false;
  // The file's size when it was searched last.
  std::uint64_t searchedSize_ = 0;
  // Replay: the segment read now, and whether it has been entered.
  std::size_t replayed_ = 0;
  bool entered_ = false;
};
