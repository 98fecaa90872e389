#include <string>

#include "platform/directory.h"
#include "platform/win32/errors.h"
#include "platform/win32/windows_min.h"

namespace platform {

struct DirectoryListing::State {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data;
  bool pending = false;  // `data` holds an entry not handed out yet
  SystemError error;
};

DirectoryListing::DirectoryListing() : state_(new State) {}

DirectoryListing::~DirectoryListing() {
  if (state_->find != INVALID_HANDLE_VALUE) ::FindClose(state_->find);
}

// A listing has no way to ask for the access time to stay: that is the
// volume's setting.
bool DirectoryListing::open(const char16_t* directory, std::uint32_t length, bool /*keepAccessTime*/) {
  if (state_->find != INVALID_HANDLE_VALUE) ::FindClose(state_->find);
  std::u16string pattern(directory, length);
  pattern += u"*.*";
  state_->error = SystemError{};
  state_->find = ::FindFirstFileW(win32::wide(pattern.c_str()), &state_->data);
  state_->pending = state_->find != INVALID_HANDLE_VALUE;
  // An empty listing has no entry, not even "." (a drive's root).
  if (!state_->pending && ::GetLastError() != ERROR_FILE_NOT_FOUND) return win32::fail("FindFirstFileW");
  return true;
}

const SystemError& DirectoryListing::error() const { return state_->error; }

bool DirectoryListing::next(DirectoryEntry& entry) {
  if (state_->find == INVALID_HANDLE_VALUE) return false;
  if (!state_->pending && !::FindNextFileW(state_->find, &state_->data)) {
    const DWORD e = ::GetLastError();
    if (e != ERROR_NO_MORE_FILES) state_->error = win32::errorFrom(e, "FindNextFileW");
    return false;
  }
  state_->pending = false;
  entry.name = reinterpret_cast<const char16_t*>(state_->data.cFileName);
  entry.nameLength = static_cast<std::uint32_t>(::wcslen(state_->data.cFileName));
  entry.isDirectory = (state_->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

}  // namespace platform
