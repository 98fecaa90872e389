#pragma once

#include "platform/files.h"
#include "writers/writer_if.h"
#include "xtd/dstring.h"

// The output of one conversion, written under a temporary name of this
// run's own in the same directory and renamed over its final name only
// once complete, so that whatever sits at the final name is replaced by a
// whole file or not at all.
class StagedOutput {
 public:
  explicit StagedOutput(xtd::wstrview finalPath);
  // Removes the temporary file unless it was renamed.
  ~StagedOutput();
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  // Zero-terminated since construction.
  const char16_t* finalPath() const { return final_.data(); }
  const char16_t* temporaryPath() const { return temporary_.data(); }

  // Creates the temporary file through `make`, which creates a new file at
  // the path it is given and reports whether it did. False with the reason
  // in lastFileError().
  template <class Make>
  bool create(Make make) {
    pending_ = true;
    return make(temporaryPath());
  }
  // Gives the complete, flushed and closed temporary file, `written`, the
  // final name (Kind::IsDirectory when a directory has it, which a rename
  // cannot replace); makes the name durable as far as the file system keeps
  // names with their files; and checks that the name then means the very
  // file that was written.
  CommitResult commit(const platform::FileIdentity& written);
  // Removes the temporary file (closed) if one may have been created.
  void discard();

 private:
  xtd::dwstring final_;
  xtd::dwstring temporary_;
  bool pending_ = false;
};
