#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "platform/files.h"

namespace avdtest {

using FileOp = platform::FileOp;
using platform::fileOpName;

// Passes every file operation to another file system and makes the N-th
// call of one kind fail, once or from then on, the way the system reports
// it: an open that is refused, a short write, a failed flush, a close that
// reports an error after releasing the handle. Counts calls and open handles.
class FaultInjectingFiles final : public platform::FileApiWrapper {
 public:
  explicit FaultInjectingFiles(platform::FileApi& inner = platform::nativeFiles()) : FileApiWrapper(inner) {}

  // Makes call `n` (1-based) of `op` fail; with `persistent` every later one too.
  void failAt(FileOp op, unsigned n, bool persistent = false);
  bool fired() const;
  unsigned calls(FileOp op) const;
  // Handles and streams opened and not yet closed.
  int openHandles() const;

  platform::FileHandle openForRead(const char16_t* path, platform::FileStatus* opened = nullptr) override;
  platform::FileHandle createNew(const char16_t* path) override;
  bool write(platform::FileHandle f, const void* data, std::uint32_t size) override;
  bool close(platform::FileHandle f) override;
  platform::RemoveResult removeIfUnchanged(const char16_t* path, platform::ScopedFile file,
                                           const platform::RemovalPolicy& policy) override;
  // A failed directory sync reports that the file system cannot sync
  // directories (EINVAL) instead of an error of the disk.
  void syncFailsAsUnsupported(bool unsupported) { dirSyncUnsupported_ = unsupported; }
  platform::SyncResult syncParentDirectory(const char16_t* path) override;
  platform::Stream* streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) override;
  std::size_t streamWrite(platform::Stream* s, const void* data, std::size_t size) override;
  bool streamClose(platform::Stream* s) override;

 protected:
  bool admit(FileOp op) override;

 private:
  // Counts the call; true when it is the one to fail.
  bool shouldFail(FileOp op);
  void adjustOpen(int delta);

  mutable std::mutex mutex_;
  std::array<unsigned, static_cast<std::size_t>(FileOp::kCount)> calls_{};
  FileOp failOp_ = FileOp::kCount;
  unsigned failAt_ = 0;
  bool persistent_ = false;
  bool fired_ = false;
  int openHandles_ = 0;
  bool dirSyncUnsupported_ = false;
};

// Routes the program's file operations through `api` for one scope.
class ScopedFileApi {
 public:
  explicit ScopedFileApi(platform::FileApi& api) { platform::setFilesForTesting(&api); }
  ~ScopedFileApi() { platform::setFilesForTesting(nullptr); }
  ScopedFileApi(const ScopedFileApi&) = delete;
  ScopedFileApi& operator=(const ScopedFileApi&) = delete;
};

}  // namespace avdtest
