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

  // Creates the temporary file through `make`, which creates a new file at
  // the path it is given and reports whether it did. Refuses when the final
  // name is a directory, which a rename cannot replace (Kind::IsDirectory),
  // and clears away what an earlier run left at the temporary name: only
  // the run that holds the archive's lock writes it, so whatever is there
  // is a killed run's. False with the reason in lastFileError().
  template <class Make>
  bool create(Make make) {
    if (!prepare()) return false;
    return make(temporaryPath()) || (removeLeftover() && make(temporaryPath()));
  }
  // Gives the complete, flushed and closed temporary file the final name.
  bool commit();
  // Removes the temporary file (closed) if one may have been created.
  void discard();

 private:
  bool prepare();
  // After a failed creation: true when the temporary name was taken and
  // what took it has been removed.
  bool removeLeftover();

  xtd::dwstring final_;
  xtd::dwstring temporary_;
  bool pending_ = false;
};
