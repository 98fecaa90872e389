#include "archive/avd_reader.h"

#include <atomic>
#include <cstring>

#include "ostra/tick_time.h"
#include "archive/stream_header.h"

namespace {

// Archives opened so far by any reader: a batch's earliest is known by it.
std::atomic<std::uint64_t> g_opened{0};

bool allZeros(const char* p, std::uint32_t n) {
  static const char zeros[4096] = {};
  while (n != 0) {
    const std::uint32_t step = n < sizeof zeros ? n : static_cast<std::uint32_t>(sizeof zeros);
    if (std::memcmp(p, zeros, step) != 0) return false;
    p += step;
    n -= step;
  }
  return true;
}

}  // namespace

AvdReader::~AvdReader() { closeArchive(); }

bool AvdReader::openArchive(xtd::wstrview path) {
  path_.assign(path);
  closeArchive();
  // What the last archive's end said does not hold for this one.
  end_ = End::None;
  endOffset_ = tailOffset_ = examined_ = failedReadOffset_ = 0;
  readError_ = platform::SystemError{};
  endStatus_ = platform::FileStatus{};
  mode_ = Mode::Plain;
  segments_.clear();
  segmentOpen_ = false;
  skipped_ = Skipped{};
  readTo_ = hashedTo_ = 0;
  hashBroken_ = false;
  digest_.reset();
  if (!hashing_) {
    hasher_.reset();
  } else if (!hasher_) {
    hasher_ = std::make_unique<platform::Sha256>();
  } else {
    hasher_->finish();  // what an archive before left in it goes
  }
  file_ = platform::ScopedFile(platform::files().openForRead(path_.c_str(), &opened_));
  if (!file_) return false;
  filePosition_ = 0;
  openOrder_ = g_opened.fetch_add(1, std::memory_order_relaxed) + 1;
  if (keepAccessTime_) platform::files().keepAccessTime(file_.get());
  // A file read in one refill needs no advice.
  if (opened_.size > chunk_) platform::files().adviseSequential(file_.get());
  return true;
}

AvdReader::Claim AvdReader::claimArchive() {
  if (!file_) return Claim::Failed;
  const Claim claim = held_.claim(file_.get(), opened_.identity);
  // The removal of another name may be waiting for this handle to go.
  if (claim == Claim::HeldByThisRun) file_.close();
  return claim;
}

AvdReader::Name AvdReader::checkName() {
  platform::FileStatus named;
  if (!platform::files().pathStatus(path_.c_str(), named)) {
    return platform::lastFileError().kind == platform::SystemError::Kind::NotFound ? Name::Gone : Name::Unknown;
  }
  return named.identity == opened_.identity ? Name::Same : Name::Other;
}

bool AvdReader::refill(std::uint32_t n) {
  platform::FileApi& fs = platform::files();
  // The unread tail is read again from the file rather than moved in memory.
  const std::uint64_t start = position();
  failedReadOffset_ = start;
  if (!file_) {
    file_ = platform::ScopedFile(fs.openForRead(path_.c_str()));
    if (!file_) return false;
    filePosition_ = 0;
    if (keepAccessTime_) fs.keepAccessTime(file_.get());
  }
  const std::uint32_t size = n > chunk_ ? n : chunk_;
  buffer_.clear();
  remaining_ = 0;
  cursor_ = nullptr;
  // The file stands where the last read left it, unless that failed.
  const bool there = start == filePosition_;
  filePosition_ = kUnknownPosition;
  if (!there && !fs.seek(file_.get(), start)) return false;
  filePos_ = start;
  // What lies before the unread tail is never read again.
  if (start > released_ && !keepCached_) {
    fs.adviseDone(file_.get(), released_, start - released_);
    released_ = start;
  }
  buffer_.reserve(size);

  std::uint32_t got = 0;
  if (!fs.read(file_.get(), buffer_.data(), size, got)) {
    // The read that failed began after the bytes that came.
    failedReadOffset_ = start + got;
    return false;
  }
  filePosition_ = start + got;
  took(start, buffer_.data(), got);
  filePos_ += got;
  if (got != 0) buffer_.extend(got);
  remaining_ = got;
  cursor_ = buffer_.data();
  // A short read is the end only if nobody is still appending to the file.
  // One that ends where the file ended when it was opened needs no second
  // look: growth after that is seen once the records have ended (checkExtent).
  if (got < size) {
    platform::FileStatus status;
    if (filePos_ == opened_.size || (fs.status(file_.get(), status) && status.size == filePos_)) eof_ = true;
  }
  return true;
}

bool AvdReader::fetch(xtd::strview& out, std::uint32_t n) {
  if (eof_ && remaining_ == 0) {
    out = xtd::strview(cursor_, 0);
    return true;
  }
  if (!eof_ && remaining_ < n && !refill(n)) {
    readError_ = platform::lastFileError();
    out = xtd::strview();
    return false;
  }
  const std::uint32_t take = n < remaining_ ? n : remaining_;
  out = xtd::strview(cursor_, take);
  cursor_ += take;
  remaining_ -= take;
  return true;
}

const AvdRecordHeader* AvdReader::ended(End how, std::uint64_t offset, xtd::strview& out) {
  out.length = 0;
  end_ = how;
  endOffset_ = how == End::ReadFailed ? failedReadOffset_ : offset;
  examined_ = position();
  return nullptr;
}

const AvdRecordHeader* AvdReader::readRecord(xtd::strview& out) {
  out.length = 0;
  const std::uint64_t start = position();
  xtd::strview raw;
  if (!fetch(raw, AvdRecordHeader::kSize)) return ended(End::ReadFailed, start, out);
  if (raw.length == 0) return ended(End::EndOfFile, start, out);
  if (raw.length < AvdRecordHeader::kSize) return ended(End::CutShort, start, out);
  header_ = AvdRecordHeader::parse(raw.data);
  if (header_.type > AvdRecordHeader::kLastType) {
    tailOffset_ = start + AvdRecordHeader::kSize;
    return ended(End::InvalidType, start, out);
  }
  // A record cut short by the end of the file is not delivered.
  if (!fetch(out, header_.length)) return ended(End::ReadFailed, start, out);
  if (out.length < header_.length) return ended(End::CutShort, start, out);
  return &header_;
}

int AvdReader::nextFrame(xtd::strview& out, std::uint32_t* ticks) {
  if (mode_ != Mode::Plain) return mode_ == Mode::Salvage ? nextSalvaged(out, ticks) : nextReplayed(out, ticks);
  const std::uint64_t start = position();
  const AvdRecordHeader* h = readRecord(out);
  if (!h) return -1;
  if (h->type == AvdRecordHeader::kStreamHeader) {
    tailOffset_ = position();
    ended(End::StreamHeader, start, out);
    return -1;
  }
  *ticks = Ostra::toTicks(h->seconds, h->microseconds);
  return h->type == AvdRecordHeader::kKeyFrame ? kKeyFrameKind : kInterFrameKind;
}

AvdReader::Tail AvdReader::scanTail() {
  platform::FileApi& fs = platform::files();
  // The records are all handed out: the buffer's storage serves the scan.
  filePosition_ = kUnknownPosition;
  buffer_.clear();
  cursor_ = nullptr;
  remaining_ = 0;
  const std::uint32_t size = buffer_.capacity() > 0 ? buffer_.capacity() : chunk_;
  buffer_.reserve(size);
  std::uint64_t at = tailOffset_;
  for (;;) {
    const std::uint64_t from = at;
    std::uint64_t data = at;
    std::uint32_t got = 0;
    // A hole reads as zeros and need not be read.
    const bool ok = fs.nextData(file_.get(), at, data) && (at = data > at ? data : at, fs.seek(file_.get(), at)) &&
                    fs.read(file_.get(), buffer_.data(), size, got);
    if (!ok) {
      readError_ = platform::lastFileError();
      end_ = End::ReadFailed;
      endOffset_ = at + got;
      return Tail::ReadFailed;
    }
    if (at > from) skipped(from, at);
    took(at, buffer_.data(), got);
    if (got == 0) break;
    if (!allZeros(buffer_.data(), got)) {
      hashRest(at + got);
      return Tail::Data;
    }
    at += got;
  }
  examined_ = at;
  filePos_ = at;
  return Tail::Zeros;
}

AvdReader::Extent AvdReader::checkExtent() {
  if (!file_ || !platform::files().status(file_.get(), endStatus_)) {
    readError_ = platform::lastFileError();
    return Extent::Unknown;
  }
  // The hash is of the file as this status describes it, or there is none.
  if (hasher_ && !hashBroken_ && hashedTo_ == endStatus_.size) digest_ = hasher_->finish();
  hashBroken_ = true;
  if (endStatus_.size == examined_) return Extent::Whole;
  return endStatus_.size > examined_ ? Extent::Grew : Extent::Shrank;
}

ArchiveHold AvdReader::holdArchive() {
  ArchiveHold hold(path_.view(), std::move(file_), std::move(held_), endStatus_, openOrder_);
  closeArchive();
  return hold;
}

void AvdReader::took(std::uint64_t offset, const char* data, std::uint32_t got) {
  const std::uint64_t end = offset + got;
  if (end > readTo_) readTo_ = end;
  if (!hasher_ || hashBroken_ || end <= hashedTo_) return;
  if (offset > hashedTo_) {
    hashBroken_ = true;
    return;
  }
  // The unread tail of a refill, or a second pass, is read again: only what
  // lies beyond the bytes hashed so far is new.
  const std::uint64_t seen = hashedTo_ - offset;
  hasher_->update(data + seen, static_cast<std::size_t>(got - seen));
  hashedTo_ = end;
}

void AvdReader::skipped(std::uint64_t offset, std::uint64_t end) {
  if (end > readTo_) readTo_ = end;
  if (!hasher_ || hashBroken_ || end <= hashedTo_ || offset > hashedTo_) return;
  static const char zeros[64 * 1024] = {};
  while (hashedTo_ < end) {
    const std::uint64_t step = end - hashedTo_ < sizeof zeros ? end - hashedTo_ : sizeof zeros;
    hasher_->update(zeros, static_cast<std::size_t>(step));
    hashedTo_ += step;
  }
}

void AvdReader::hashRest(std::uint64_t offset) {
  if (!hasher_ || hashBroken_) return;
  platform::FileApi& fs = platform::files();
  const std::uint32_t size = buffer_.capacity();
  for (std::uint64_t at = offset;;) {
    std::uint32_t got = 0;
    if (!fs.seek(file_.get(), at) || !fs.read(file_.get(), buffer_.data(), size, got)) {
      hashBroken_ = true;
      return;
    }
    if (got == 0) return;
    took(at, buffer_.data(), got);
    at += got;
  }
}

void AvdReader::rewind(std::uint64_t offset) {
  buffer_.clear();
  cursor_ = nullptr;
  remaining_ = 0;
  filePos_ = offset;
  eof_ = false;
  end_ = End::None;
}

class AvdReader::SearchSource final : public record_search::Source {
 public:
  explicit SearchSource(AvdReader& reader) : reader_(reader) {}
  bool bytes(std::uint64_t at, std::uint32_t n, xtd::strview& out) override { return reader_.window(at, n, out); }

 private:
  AvdReader& reader_;
};

bool AvdReader::window(std::uint64_t at, std::uint32_t n, xtd::strview& out) {
  // The buffer holds the bytes up to filePos_.
  const std::uint64_t begin = filePos_ - buffer_.length();
  const bool held = at >= begin && at <= filePos_ && (filePos_ - at >= n || eof_);
  if (!held) {
    buffer_.clear();
    cursor_ = nullptr;
    remaining_ = 0;
    filePos_ = at;
    eof_ = false;
    if (!refill(n)) {
      readError_ = platform::lastFileError();
      return false;
    }
  }
  out = xtd::strview(buffer_.data() + (at - (filePos_ - buffer_.length())), static_cast<std::uint32_t>(filePos_ - at));
  return true;
}

void AvdReader::moveTo(std::uint64_t at) {
  const std::uint64_t begin = filePos_ - buffer_.length();
  if (at >= begin && at <= filePos_ && buffer_.length() != 0) {
    cursor_ = buffer_.data() + (at - begin);
    remaining_ = static_cast<std::uint32_t>(filePos_ - at);
  } else {
    rewind(at);
  }
  end_ = End::None;
}

record_search::Result AvdReader::findRecord(std::uint64_t from, const RecordCheck& check, std::uint64_t& found,
                                            record_search::Counts* counts) {
  platform::FileStatus status;
  if (!file_ || !platform::files().status(file_.get(), status)) {
    readError_ = platform::lastFileError();
    failedReadOffset_ = from;
    return record_search::Result::ReadFailed;
  }
  searchedSize_ = status.size;
  SearchSource source(*this);
  const record_search::Result r = record_search::find(source, from, status.size, check, found, counts);
  // Where a read failed (a status that failed is at the search's start).
  if (r == record_search::Result::ReadFailed && failedReadOffset_ < from) failedReadOffset_ = from;
  return r;
}

void AvdReader::salvageFrom(xtd::strview header, std::uint32_t seconds) {
  mode_ = Mode::Salvage;
  session_.assign(header);
  readCodec(header, check_.codec);
  check_.seconds = seconds;
  check_.anyTime = false;
  skipped_ = Skipped{};
  segments_.clear();
  segmentOpen_ = false;
  openSegment(position(), false);
}

void AvdReader::openSegment(std::uint64_t begin, bool newOutput) {
  segments_.push_back(Segment{begin, begin, newOutput});
  segmentOpen_ = true;
}

void AvdReader::closeSegment(std::uint64_t end) {
  if (!segmentOpen_) return;
  segmentOpen_ = false;
  segments_.back().end = end;
  // A stretch without records matters only where an output begins.
  if (end == segments_.back().begin && !segments_.back().newOutput) segments_.pop_back();
}

bool AvdReader::sameSession(xtd::strview header) const {
  StreamHeader now, next;
  if (!parseStreamHeader(session_.view(), now) || !parseStreamHeader(header, next) || now.codec != next.codec) {
    return false;
  }
  auto same = [](xtd::strview a, xtd::strview b) {
    return a.length == b.length && (a.length == 0 || std::memcmp(a.data, b.data, a.length) == 0);
  };
  if (now.codec == StreamHeader::kMjpeg) {
    return now.framesPerSecond == next.framesPerSecond && now.width == next.width && now.height == next.height;
  }
  return same(now.sps, next.sps) && same(now.pps, next.pps);
}

int AvdReader::nextSalvaged(xtd::strview& out, std::uint32_t* ticks) {
  for (;;) {
    const std::uint64_t start = position();
    const AvdRecordHeader* h = readRecord(out);
    if (!h) {
      if (end_ == End::EndOfFile) closeSegment(start);
      if (end_ == End::EndOfFile || end_ == End::ReadFailed || !skipDamage(start)) return -1;
      continue;
    }
    if (!check_.payload(h->type, out)) {
      if (!skipDamage(start)) return -1;
      continue;
    }
    check_.seconds = h->seconds;
    if (h->type == AvdRecordHeader::kStreamHeader) {
      closeSegment(start);
      const bool same = sameSession(out);
      openSegment(position(), !same);
      if (same) continue;
      session_.assign(out);
      readCodec(out, check_.codec);
      return kNewSessionKind;
    }
    *ticks = Ostra::toTicks(h->seconds, h->microseconds);
    return h->type == AvdRecordHeader::kKeyFrame ? kKeyFrameKind : kInterFrameKind;
  }
}

bool AvdReader::skipDamage(std::uint64_t start) {
  closeSegment(start);
  std::uint64_t found = 0;
  switch (findRecord(start + 1, check_, found)) {
    case record_search::Result::ReadFailed:
      end_ = End::ReadFailed;
      endOffset_ = failedReadOffset_;
      return false;
    case record_search::Result::Found:
      if (skipped_.places++ == 0) skipped_.first = start;
      skipped_.bytes += found - start;
      moveTo(found);
      openSegment(found, false);
      return true;
    case record_search::Result::NotFound:
      break;
  }
  // Nothing good follows. A record the end of the file cut short ends the
  // frames as it does without salvage; zeros are padding.
  const std::uint64_t size = searchedSize_;
  bool cut = size - start < AvdRecordHeader::kSize;
  if (!cut) {
    xtd::strview head;
    if (!window(start, AvdRecordHeader::kSize, head)) {
      end_ = End::ReadFailed;
      endOffset_ = failedReadOffset_;
      return false;
    }
    const AvdRecordHeader h = AvdRecordHeader::parse(head.data);
    cut = h.length > size - start - AvdRecordHeader::kSize &&
          check_.header(h, start, start + AvdRecordHeader::kSize + h.length);
  }
  end_ = cut ? End::CutShort : End::EndOfFile;
  endOffset_ = start;
  examined_ = size;
  if (cut) return false;
  tailOffset_ = start;
  switch (scanTail()) {
    case Tail::ReadFailed:
      return false;
    case Tail::Data:
      if (skipped_.places++ == 0) skipped_.first = start;
      skipped_.bytes += size - start;
      examined_ = size;
      break;
    case Tail::Zeros:
      break;
  }
  end_ = End::EndOfFile;
  return false;
}

void AvdReader::replaySalvage() {
  mode_ = Mode::Replay;
  replayed_ = 0;
  entered_ = false;
  end_ = End::None;
}

int AvdReader::nextReplayed(xtd::strview& out, std::uint32_t* ticks) {
  out.length = 0;
  while (replayed_ < segments_.size()) {
    const Segment& s = segments_[replayed_];
    if (!entered_) {
      entered_ = true;
      moveTo(s.begin);
      if (s.newOutput) return kNewSessionKind;
    }
    if (position() >= s.end) {
      ++replayed_;
      entered_ = false;
      continue;
    }
    const std::uint64_t start = position();
    const AvdRecordHeader* h = readRecord(out);
    if (!h) return -1;
    // The records are no longer what the first pass found.
    if (h->type == AvdRecordHeader::kStreamHeader || position() > s.end) {
      ended(End::CutShort, start, out);
      return -1;
    }
    *ticks = Ostra::toTicks(h->seconds, h->microseconds);
    return h->type == AvdRecordHeader::kKeyFrame ? kKeyFrameKind : kInterFrameKind;
  }
  end_ = End::EndOfFile;
  return -1;
}

void AvdReader::closeArchive() {
  file_.close();
  held_.reset();
  buffer_.clear();
  cursor_ = nullptr;
  remaining_ = 0;
  filePos_ = 0;
  filePosition_ = kUnknownPosition;
  released_ = 0;
  eof_ = false;
  keepCached_ = false;
}
