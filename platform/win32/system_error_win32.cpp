#include <cerrno>
#include <cstring>
#include <string>

#include "platform/win32/errors.h"
#include "platform/win32/windows_min.h"

namespace platform {

namespace win32 {

SystemError errorFrom(unsigned long code, const char* call) {
  using Kind = SystemError::Kind;
  Kind kind = Kind::Other;
  switch (code) {
    case ERROR_SUCCESS: kind = Kind::None; break;
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME: kind = Kind::NotFound; break;
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: kind = Kind::Exists; break;
    case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT: kind = Kind::AccessDenied; break;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: kind = Kind::DiskFull; break;
    case ERROR_DIRECTORY: kind = Kind::IsDirectory; break;
    case ERROR_FILENAME_EXCED_RANGE: kind = Kind::NameTooLong; break;
    case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: kind = Kind::Busy; break;
    case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY: kind = Kind::OutOfMemory; break;
    default: break;
  }
  return SystemError{kind, static_cast<std::int32_t>(code), false, call};
}

SystemError crtErrorFrom(int code, const char* call) {
  using Kind = SystemError::Kind;
  Kind kind = Kind::Other;
  switch (code) {
    case 0: kind = Kind::None; break;
    case ENOENT: kind = Kind::NotFound; break;
    case EEXIST: kind = Kind::Exists; break;
    case EACCES: kind = Kind::AccessDenied; break;
    case ENOSPC: kind = Kind::DiskFull; break;
    case ENOMEM: kind = Kind::OutOfMemory; break;
    default: break;
  }
  return SystemError{kind, code, true, call};
}

bool fail(const char* call) { return fail(call, ::GetLastError()); }

bool fail(const char* call, unsigned long code) {
  setLastFileError(errorFrom(code, call));
  return false;
}

bool failCrt(const char* call, int code) {
  setLastFileError(crtErrorFrom(code == 0 ? EIO : code, call));
  return false;
}

}  // namespace win32

namespace {

SystemError nativeErrorOfKind(SystemError::Kind kind) {
  using Kind = SystemError::Kind;
  switch (kind) {
    case Kind::None: return SystemError{};
    case Kind::NotFound: return win32::errorFrom(ERROR_FILE_NOT_FOUND);
    case Kind::Exists: return win32::errorFrom(ERROR_FILE_EXISTS);
    case Kind::AccessDenied: return win32::errorFrom(ERROR_ACCESS_DENIED);
    case Kind::DiskFull: return win32::errorFrom(ERROR_DISK_FULL);
    case Kind::IsDirectory: return win32::errorFrom(ERROR_DIRECTORY);
    case Kind::NotRegular: return SystemError{Kind::NotRegular, 0, false};
    case Kind::NameTooLong: return win32::errorFrom(ERROR_FILENAME_EXCED_RANGE);
    case Kind::Busy: return win32::errorFrom(ERROR_LOCK_VIOLATION);
    case Kind::OutOfMemory: return win32::errorFrom(ERROR_NOT_ENOUGH_MEMORY);
    case Kind::Other: break;
  }
  return win32::errorFrom(ERROR_GEN_FAILURE);
}

}  // namespace

SystemError simulatedError(SystemError::Kind kind, const char* call) {
  SystemError e = nativeErrorOfKind(kind);
  e.call = call;
  return e;
}

std::string describe(const SystemError& error) {
  if (error.kind == SystemError::Kind::NotRegular && error.code == 0) return "not a regular file";
  if (error.crt) return std::strerror(error.code);
  wchar_t text[512] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(error.code), 0, text, 512, nullptr);
  std::string out;
  if (n == 0) {
    out = "system error " + std::to_string(static_cast<unsigned long>(error.code));
  } else {
    char bytes[2048] = {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), bytes, sizeof bytes, nullptr, nullptr);
    out.assign(bytes, size > 0 ? static_cast<std::size_t>(size) : 0);
  }
  // The system's messages end in a full stop and a line break.
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
    out.pop_back();
  }
  return out;
}

}  // namespace platform
