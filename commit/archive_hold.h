#pragma once

#include <cstdint>

#include "commit/held_archive.h"
#include "platform/files.h"
#include "xtd/dstring.h"

// An archive that has been read to its end, still open and locked against
// other runs, waiting for its output to be made durable before it goes.
class ArchiveHold {
 public:
  ArchiveHold() = default;
  ArchiveHold(xtd::wstrview path, platform::ScopedFile file, HeldArchive held, const platform::FileStatus& status,
              std::uint64_t openOrder)
      : path_(path), held_(std::move(held)), file_(std::move(file)), status_(status), openOrder_(openOrder) {
    path_.c_str();
  }
  ArchiveHold(ArchiveHold&&) noexcept = default;
  ArchiveHold& operator=(ArchiveHold&& other) noexcept {
    if (this != &other) {
      release();
      path_.swap(other.path_);
      held_ = std::move(other.held_);
      file_ = std::move(other.file_);
      status_ = other.status_;
      openOrder_ = other.openOrder_;
    }
    return *this;
  }
  ~ArchiveHold() { release(); }

  const xtd::dwstring& path() const { return path_; }
  platform::FileHandle handle() const { return file_.get(); }
  // The archive as it stood when it was read to its end.
  const platform::FileStatus& status() const { return status_; }
  // Of two holds, the one opened first has the smaller number.
  std::uint64_t openOrder() const { return openOrder_; }

  // How a removal ended; `modifiedAgo` (seconds) for a Recent one, the
  // system's reason for a Failed one.
  struct Removal {
    platform::RemoveResult result = platform::RemoveResult::Failed;
    std::int64_t modifiedAgo = 0;
    platform::SystemError error;
  };
  // Removes the archive if its name still means the file as it stood when
  // it was read to its end and nobody may be writing it (see
  // ArchiveRemoval), and lets it go.
  Removal remove();

  // Lets the archive go without removing it.
  void release() {
    file_.close();
    held_.reset();
  }

 private:
  xtd::dwstring path_;
  // Forgotten only after the lock has gone with the file.
  HeldArchive held_;
  platform::ScopedFile file_;
  platform::FileStatus status_;
  std::uint64_t openOrder_ = 0;
};
