#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/platform/other_program_handle.h"

namespace avdtest {

namespace {

// The C runtime's share flags never share deleting.
int shareFlag(OtherProgramHandle::Shares shares) {
  switch (shares) {
    case OtherProgramHandle::Shares::Nothing: return _SH_DENYRW;
    case OtherProgramHandle::Shares::Reading: return _SH_DENYWR;
    case OtherProgramHandle::Shares::ReadingAndWriting: return _SH_DENYNO;
  }
  return _SH_DENYRW;
}

}  // namespace

OtherProgramHandle::OtherProgramHandle(const std::filesystem::path& file, Shares shares, bool writing) {
  const int access = (writing ? _O_RDWR : _O_RDONLY) | _O_BINARY;
  // The file exists: no permission bits are needed.
  const errno_t e = ::_wsopen_s(&descriptor_, file.c_str(), access, shareFlag(shares), 0);
  if (e != 0) throw std::runtime_error("_wsopen_s " + file.string() + ": " + std::strerror(e));
}

OtherProgramHandle::~OtherProgramHandle() {
  if (descriptor_ >= 0) ::_close(descriptor_);
}

}  // namespace avdtest
