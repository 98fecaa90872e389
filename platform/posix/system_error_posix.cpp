#include <cerrno>
#include <cstring>

#include "platform/posix/errors.h"

namespace platform {

namespace posix {

SystemError errorFrom(int code, const char* call) {
  using Kind = SystemError::Kind;
  Kind kind = Kind::Other;
  switch (code) {
    case 0: kind = Kind::None; break;
    case ENOENT: case ENOTDIR: kind = Kind::NotFound; break;
    case EEXIST: kind = Kind::Exists; break;
    case EACCES: case EPERM: case EROFS: kind = Kind::AccessDenied; break;
    case ENOSPC: case EDQUOT: case EFBIG: kind = Kind::DiskFull; break;
    case EISDIR: kind = Kind::IsDirectory; break;
    case ENAMETOOLONG: kind = Kind::NameTooLong; break;
    case EWOULDBLOCK: case EBUSY: case ETXTBSY: kind = Kind::Busy; break;
    case ENOMEM: kind = Kind::OutOfMemory; break;
    default: break;
  }
  return SystemError{kind, code, false, call};
}

bool fail(const char* call) { return fail(call, errno); }

// strerror_r comes in two kinds: the GNU one may return a static string
// instead of filling the buffer, the POSIX one returns a status.
const char* chooseText(int, const char* buffer) { return buffer; }
const char* chooseText(const char* text, const char* buffer) { return text ? text : buffer; }

bool fail(const char* call, int code) {
  setLastFileError(errorFrom(code, call));
  return false;
}

}  // namespace posix

namespace {

SystemError nativeErrorOfKind(SystemError::Kind kind) {
  using Kind = SystemError::Kind;
  switch (kind) {
    case Kind::None: return SystemError{};
    case Kind::NotFound: return posix::errorFrom(ENOENT);
    case Kind::Exists: return posix::errorFrom(EEXIST);
    case Kind::AccessDenied: return posix::errorFrom(EACCES);
    case Kind::DiskFull: return posix::errorFrom(ENOSPC);
    case Kind::IsDirectory: return posix::errorFrom(EISDIR);
    case Kind::NotRegular: return SystemError{Kind::NotRegular, 0, false};
    case Kind::NameTooLong: return posix::errorFrom(ENAMETOOLONG);
    case Kind::Busy: return posix::errorFrom(EWOULDBLOCK);
    case Kind::OutOfMemory: return posix::errorFrom(ENOMEM);
    case Kind::Other: break;
  }
  return posix::errorFrom(EIO);
}

}  // namespace

SystemError simulatedError(SystemError::Kind kind, const char* call) {
  SystemError e = nativeErrorOfKind(kind);
  e.call = call;
  return e;
}

std::string describe(const SystemError& error) {
  if (error.kind == SystemError::Kind::NotRegular && error.code == 0) return "not a regular file";
  char buffer[256] = {};
  return posix::chooseText(::strerror_r(error.code, buffer, sizeof buffer), buffer);
}

}  // namespace platform
