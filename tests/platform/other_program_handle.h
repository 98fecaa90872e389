#pragma once

#include <filesystem>

namespace avdtest {

// A handle on a file as another program holds it, opened through the C
// runtime with a share flag: what it lets others do with the file while it
// is open, as Windows keeps share modes for every opener.
class OtherProgramHandle {
 public:
  enum class Shares { Nothing, Reading, ReadingAndWriting };

  // Opens `file` for writing (and reading) or for reading only; throws when
  // the open fails.
  OtherProgramHandle(const std::filesystem::path& file, Shares shares, bool writing);
  ~OtherProgramHandle();
  OtherProgramHandle(const OtherProgramHandle&) = delete;
  OtherProgramHandle& operator=(const OtherProgramHandle&) = delete;

 private:
  int descriptor_ = -1;
};

}  // namespace avdtest
