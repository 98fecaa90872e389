#include "tests/support/fault_files.h"

namespace avdtest {

namespace {

// The reason a failed call of each kind reports.
platform::SystemError faultFor(FileOp op) {
  using Kind = platform::SystemError::Kind;
  const char* call = platform::fileOpName(op);
  switch (op) {
    case FileOp::CreateNew:
    case FileOp::StreamCreate:
    case FileOp::Write:
    case FileOp::StreamWrite:
      return platform::simulatedError(Kind::DiskFull, call);
    case FileOp::OpenRead:
    case FileOp::Remove:
    case FileOp::RemoveIfUnchanged:
    case FileOp::Rename:
      return platform::simulatedError(Kind::AccessDenied, call);
    default:
      return platform::simulatedError(Kind::Other, call);
  }
}

}  // namespace

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

bool FaultInjectingFiles::admit(FileOp op) {
  if (!shouldFail(op)) return true;
  platform::setLastFileError(faultFor(op));
  return false;
}

void FaultInjectingFiles::adjustOpen(int delta) {
  std::lock_guard<std::mutex> lock(mutex_);
  openHandles_ += delta;
}

platform::FileHandle FaultInjectingFiles::openForRead(const char16_t* path, platform::FileStatus* opened) {
  const platform::FileHandle f = FileApiWrapper::openForRead(path, opened);
  if (f != platform::kInvalidFile) adjustOpen(+1);
  return f;
}

platform::FileHandle FaultInjectingFiles::createNew(const char16_t* path) {
  const platform::FileHandle f = FileApiWrapper::createNew(path);
  if (f != platform::kInvalidFile) adjustOpen(+1);
  return f;
}

bool FaultInjectingFiles::write(platform::FileHandle f, const void* data, std::uint32_t size) {
  if (!shouldFail(FileOp::Write)) return target().write(f, data, size);
  // A disk that fills up mid-write: part of the bytes land, then failure.
  target().write(f, data, size / 2);
  platform::setLastFileError(faultFor(FileOp::Write));
  return false;
}

bool FaultInjectingFiles::close(platform::FileHandle f) {
  adjustOpen(-1);
  return FileApiWrapper::close(f);
}

platform::RemoveResult FaultInjectingFiles::removeIfUnchanged(const char16_t* path, platform::ScopedFile file,
                                                              const platform::RemovalPolicy& policy) {
  adjustOpen(-1);
  return FileApiWrapper::removeIfUnchanged(path, std::move(file), policy);
}

platform::SyncResult FaultInjectingFiles::syncParentDirectory(const char16_t* path) {
  const platform::SyncResult result = FileApiWrapper::syncParentDirectory(path);
  return result == platform::SyncResult::Failed && dirSyncUnsupported_ && fired() ? platform::SyncResult::NotSupported
                                                                                 : result;
}

platform::Stream* FaultInjectingFiles::streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) {
  platform::Stream* s = FileApiWrapper::streamCreate(path, buffer, bufferSize);
  if (s) adjustOpen(+1);
  return s;
}

std::size_t FaultInjectingFiles::streamWrite(platform::Stream* s, const void* data, std::size_t size) {
  if (!shouldFail(FileOp::StreamWrite)) return target().streamWrite(s, data, size);
  const std::size_t n = target().streamWrite(s, data, size / 2);
  platform::setLastFileError(faultFor(FileOp::StreamWrite));
  return n;
}

bool FaultInjectingFiles::streamClose(platform::Stream* s) {
  adjustOpen(-1);
  return FileApiWrapper::streamClose(s);
}

}  // namespace avdtest
