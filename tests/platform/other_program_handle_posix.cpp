#include "tests/platform/other_program_handle.h"

namespace avdtest {

OtherProgramHandle::OtherProgramHandle(const std::filesystem::path&, Shares, bool) {}

OtherProgramHandle::~OtherProgramHandle() = default;

std::string OtherProgramHandle::unavailable() {
  return "POSIX has no share modes: another program's open keeps nobody off a file";
}

}  // namespace avdtest
