#pragma once

#include "platform/files.h"
#include "xtd/dstring.h"

// The output of one conversion, written under a temporary name in the same
// directory and renamed over its final name only once complete, so that
// whatever sits at the final name is replaced by a whole file or not at
// all. The temporary name ends in neither "avd" nor an output extension:
// no run takes it for an archive or an output.
class StagedOutput {
 public:
  static constexpr char16_t kTemporarySuffix[] = u".avdconv-tmp";

  explicit StagedOutput(xtd::wstrview finalPath);
  // Removes the temporary file unless it was committed.
  ~StagedOutput();
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  // Zero-terminated since construction.
  const char16_t* finalPath() const { return final_.data(); }
  const char16_t* temporaryPath() const { return temporary_.data(); }

  // Call before creating the temporary file; false (with Kind::IsDirectory
  // recorded) when the final name is a directory, which a rename cannot
  // replace.
  bool prepare();
  // After a failed creation: true when the temporary name was taken by
  // what an earlier run left behind and that has been removed, so that the
  // creation may be tried once more. Only the run that holds the archive's
  // lock writes this name, so whatever is there is a killed run's.
  bool removeLeftover();
  // Gives the complete, flushed and closed temporary file the final name.
  bool commit();
  // Removes the temporary file (closed) if one may have been created.
  void discard();

 private:
  xtd::dwstring final_;
  xtd::dwstring temporary_;
  bool pending_ = false;
};
