#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace avdtest {

struct WriterFrame {
  std::string payload;
  std::uint32_t ticks = 0;
};

// What a writer left behind.
struct WriterRun {
  bool opened = false;
  bool finished = false;       // finish() reported the output complete and in place
  bool output = false;         // a file at the output name
  std::string outputBytes;
  bool temporaryLeft = false;  // anything but the output beside the archive
};

// Drives the writer that createWriter picks for `archive` as the conversion
// does: open with the header, every frame while they are accepted, finish
// only if all were, then destroy it. The archive file itself is not needed.
WriterRun driveWriter(const std::filesystem::path& archive, const std::string& headerPayload,
                      const std::vector<WriterFrame>& frames);

}  // namespace avdtest
