#include "platform/replacing_file.h"
#include "platform/win32/errors.h"
#include "platform/win32/windows_min.h"

namespace platform {

// The file is renamed while this handle has it open: the handle must share
// deletion, which a rename counts as.
FileHandle createReplacing(const char16_t* temporary, const char16_t* path) {
  HANDLE h = ::CreateFileW(win32::wide(temporary), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::fail("CreateFileW"), kInvalidFile;
  if (!::MoveFileExW(win32::wide(temporary), win32::wide(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD refused = ::GetLastError();
    ::CloseHandle(h);
    ::DeleteFileW(win32::wide(temporary));
    win32::fail("MoveFileExW", refused);
    return kInvalidFile;
  }
  return reinterpret_cast<FileHandle>(h);
}

}  // namespace platform
