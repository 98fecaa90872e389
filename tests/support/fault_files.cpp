#include "tests/support/fault_files.h"

namespace avdtest {

const char* fileOpName(FileOp op) {
  static const char* const names[] = {"openRead",      "create",     "read",        "write",
                                      "seek",          "size",       "flush",       "close",
                                      "remove",        "syncDirectory", "streamOpen", "streamWrite",
                                      "streamRead",    "streamSeek", "streamFlush", "streamClose"};
  return names[static_cast<int>(op)];
}

void FaultInjectingFiles::failAt(FileOp op, unsigned n, bool persistent) {
  std::lock_guard<std::mutex> lock(mutex_);
  failOp_ = op;
  failAt_ = n;
  persistent_ = persistent;
  fired_ = false;
}

bool FaultInjectingFiles::fired() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fired_;
}

unsigned FaultInjectingFiles::calls(FileOp op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_[static_cast<std::size_t>(op)];
}

int FaultInjectingFiles::openHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openHandles_;
}

bool FaultInjectingFiles::shouldFail(FileOp op) {
  std::lock_guard<std::mutex> lock(mutex_);
  const unsigned n = ++calls_[static_cast<std::size_t>(op)];
  if (op != failOp_ || failAt_ == 0) return false;
  if (n == failAt_ || (persistent_ && n > failAt_)) {
    fired_ = true;
    return true;
  }
  return false;
}

void FaultInjectingFiles::adjustOpen(int delta) {
  std::lock_guard<std::mutex> lock(mutex_);
  openHandles_ += delta;
}

platform::FileHandle FaultInjectingFiles::openForRead(const char16_t* path) {
  if (shouldFail(FileOp::OpenRead)) return platform::kInvalidFile;
  const platform::FileHandle f = inner_.openForRead(path);
  if (f != platform::kInvalidFile) adjustOpen(+1);
  return f;
}

platform::FileHandle FaultInjectingFiles::createForWrite(const char16_t* path) {
  if (shouldFail(FileOp::Create)) return platform::kInvalidFile;
  const platform::FileHandle f = inner_.createForWrite(path);
  if (f != platform::kInvalidFile) adjustOpen(+1);
  return f;
}

bool FaultInjectingFiles::read(platform::FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) {
  if (shouldFail(FileOp::Read)) {
    got = 0;
    return false;
  }
  return inner_.read(f, buffer, size, got);
}

bool FaultInjectingFiles::write(platform::FileHandle f, const void* data, std::uint32_t size) {
  if (shouldFail(FileOp::Write)) {
    // A disk that fills up mid-write: part of the bytes land, then failure.
    inner_.write(f, data, size / 2);
    return false;
  }
  return inner_.write(f, data, size);
}

bool FaultInjectingFiles::seek(platform::FileHandle f, std::uint64_t offset) {
  return !shouldFail(FileOp::Seek) && inner_.seek(f, offset);
}

bool FaultInjectingFiles::size(platform::FileHandle f, std::uint64_t& bytes) {
  return !shouldFail(FileOp::Size) && inner_.size(f, bytes);
}

bool FaultInjectingFiles::flushToDisk(platform::FileHandle f) {
  return !shouldFail(FileOp::Flush) && inner_.flushToDisk(f);
}

bool FaultInjectingFiles::close(platform::FileHandle f) {
  const bool fail = shouldFail(FileOp::Close);
  // A failed close still releases the handle, as the system's does.
  const bool closed = inner_.close(f);
  adjustOpen(-1);
  return closed && !fail;
}

bool FaultInjectingFiles::remove(const char16_t* path) {
  return !shouldFail(FileOp::Remove) && inner_.remove(path);
}

bool FaultInjectingFiles::syncParentDirectory(const char16_t* path) {
  return !shouldFail(FileOp::SyncDirectory) && inner_.syncParentDirectory(path);
}

platform::Stream* FaultInjectingFiles::streamOpen(const char16_t* path, char* buffer, std::size_t bufferSize) {
  if (shouldFail(FileOp::StreamOpen)) return nullptr;
  platform::Stream* s = inner_.streamOpen(path, buffer, bufferSize);
  if (s) adjustOpen(+1);
  return s;
}

std::size_t FaultInjectingFiles::streamWrite(platform::Stream* s, const void* data, std::size_t size) {
  if (shouldFail(FileOp::StreamWrite)) return inner_.streamWrite(s, data, size / 2);
  return inner_.streamWrite(s, data, size);
}

std::size_t FaultInjectingFiles::streamRead(platform::Stream* s, void* buffer, std::size_t size) {
  if (shouldFail(FileOp::StreamRead)) return 0;
  return inner_.streamRead(s, buffer, size);
}

bool FaultInjectingFiles::streamSeek(platform::Stream* s, std::uint64_t offset) {
  return !shouldFail(FileOp::StreamSeek) && inner_.streamSeek(s, offset);
}

bool FaultInjectingFiles::streamFlushToDisk(platform::Stream* s) {
  return !shouldFail(FileOp::StreamFlush) && inner_.streamFlushToDisk(s);
}

bool FaultInjectingFiles::streamClose(platform::Stream* s) {
  const bool fail = shouldFail(FileOp::StreamClose);
  const bool closed = inner_.streamClose(s);
  adjustOpen(-1);
  return closed && !fail;
}

}  // namespace avdtest
