#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Why a call into the system failed: the system's own code, so that its own
// words can be shown to the user, and the few cases the program acts on.
struct SystemError {
  enum class Kind : std::uint8_t {
    None,
    NotFound,
    Exists,
    AccessDenied,
    DiskFull,
    IsDirectory,
    NotRegular,   // a FIFO, socket or device where a file was expected
    NameTooLong,
    Busy,         // held by someone else (a lock, a sharing violation)
    OutOfMemory,
    Other,
  };

  Kind kind = Kind::None;
  // errno, or on Windows the value of GetLastError() (or errno for the C
  // runtime's streams, flagged by `crt`).
  std::int32_t code = 0;
  bool crt = false;
  // The system call that failed, as the system names it ("fsync",
  // "MoveFileExW"); null when no call did. The layer above knows which file
  // the call was about and says so itself.
  const char* call = nullptr;

  explicit operator bool() const { return kind != Kind::None; }
};

// The last failure this thread saw from the file services, in the manner of
// errno: set by every failing call, left alone by successful ones.
SystemError lastFileError();
void setLastFileError(SystemError error);

// A native error of the given kind, for test file systems that fail calls
// the way the system would; `call` names the call that is made to fail.
SystemError simulatedError(SystemError::Kind kind, const char* call = nullptr);

// The system's description of the error, as UTF-8 text without a final
// full stop or line break.
std::string describe(const SystemError& error);

}  // namespace platform
