#include "archive/avd_reader.h"

#include "ostra/tick_time.h"

AvdReader::~AvdReader() { closeArchive(); }

bool AvdReader::openArchive(xtd::wstrview path) {
  path_.assign(path);
  if (handle_ != platform::kInvalidFile) platform::files().close(handle_);
  handle_ = platform::files().openForRead(path_.c_str());
  return handle_ != platform::kInvalidFile;
}

bool AvdReader::refill(std::uint32_t n) {
  platform::FileApi& fs = platform::files();
  if (handle_ == platform::kInvalidFile) {
    handle_ = fs.openForRead(path_.c_str());
    if (handle_ == platform::kInvalidFile) return false;
  }
  // The unread tail is read again from the file rather than moved in memory.
  const std::uint64_t start = filePos_ - remaining_;
  const std::uint32_t size = n > chunk_ ? n : chunk_;
  buffer_.clear();
  remaining_ = 0;
  cursor_ = nullptr;
  if (!fs.seek(handle_, start)) return false;
  filePos_ = start;
  buffer_.reserve(size);

  std::uint32_t got = 0;
  if (!fs.read(handle_, buffer_.data(), size, got)) return false;
  std::uint64_t fileSize = 0;
  const bool sized = fs.size(handle_, fileSize);

  filePos_ += got;
  if (got != 0) buffer_.extend(got);
  remaining_ = got;
  cursor_ = buffer_.data();
  // A short read is the end only if nobody is still appending to the file.
  if (got < size && sized && fileSize == filePos_) eof_ = true;
  return true;
}

bool AvdReader::fetch(xtd::strview& out, std::uint32_t n) {
  if (eof_ && remaining_ == 0) {
    out = xtd::strview(cursor_, 0);
    return true;
  }
  if (!eof_ && remaining_ < n && !refill(n)) {
    out = xtd::strview();
    return false;
  }
  const std::uint32_t take = n < remaining_ ? n : remaining_;
  out = xtd::strview(cursor_, take);
  cursor_ += take;
  remaining_ -= take;
  return true;
}

const AvdRecordHeader* AvdReader::readRecord(xtd::strview& out) {
  out.length = 0;
  xtd::strview raw;
  if (!fetch(raw, AvdRecordHeader::kSize) || raw.length < AvdRecordHeader::kSize) return nullptr;
  header_ = AvdRecordHeader::parse(raw.data);
  if (header_.type > AvdRecordHeader::kLastFrameType) return nullptr;
  // A record cut short by the end of the file is not delivered.
  if (!fetch(out, header_.length) || out.length < header_.length) {
    out.length = 0;
    return nullptr;
  }
  return &header_;
}

int AvdReader::nextFrame(xtd::strview& out, std::uint32_t* ticks) {
  const AvdRecordHeader* h = readRecord(out);
  if (!h || h->type == AvdRecordHeader::kStreamHeader) {
    out.length = 0;
    return -1;
  }
  *ticks = Ostra::toTicks(h->seconds, h->microseconds);
  return h->type == 2 ? 1 : 2;
}

void AvdReader::closeArchive() {
  if (handle_ != platform::kInvalidFile) {
    platform::files().close(handle_);
    handle_ = platform::kInvalidFile;
  }
  buffer_.clear();
  cursor_ = nullptr;
  remaining_ = 0;
  filePos_ = 0;
  eof_ = false;
}
