#pragma once

#include "platform/files.h"
#include "xtd/dstring.h"

// An archive that has been read to its end, still open and locked against
// other runs, waiting for its output to be made durable before it goes.
class ArchiveHold {
 public:
  ArchiveHold() = default;
  ArchiveHold(xtd::wstrview path, platform::FileHandle handle, const platform::FileStatus& status)
      : path_(path), handle_(handle), status_(status) {
    path_.c_str();
  }
  ~ArchiveHold() { release(); }
  ArchiveHold(ArchiveHold&& other) noexcept { *this = std::move(other); }
  ArchiveHold& operator=(ArchiveHold&& other) noexcept {
    if (this != &other) {
      release();
      path_.swap(other.path_);
      handle_ = other.handle_;
      status_ = other.status_;
      other.handle_ = platform::kInvalidFile;
    }
    return *this;
  }

  const xtd::dwstring& path() const { return path_; }
  platform::FileHandle handle() const { return handle_; }

  // Removes the archive if its name still means the file as it stood when
  // it was read to its end and nobody is writing it (see
  // FileApi::removeIfUnchanged), and lets it go.
  platform::RemoveResult remove() {
    const platform::FileHandle held = handle_;
    handle_ = platform::kInvalidFile;
    if (held == platform::kInvalidFile) return platform::RemoveResult::Failed;
    return platform::files().removeIfUnchanged(path_.data(), held, status_);
  }

  // Lets the archive go without removing it.
  void release() {
    if (handle_ != platform::kInvalidFile) platform::files().close(handle_);
    handle_ = platform::kInvalidFile;
  }

 private:
  xtd::dwstring path_;
  platform::FileHandle handle_ = platform::kInvalidFile;
  platform::FileStatus status_;
};
