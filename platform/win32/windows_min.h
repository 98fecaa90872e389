#pragma once

// The one way this layer includes the system header: without the rarely
// used parts and without the min/max macros.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <utility>

namespace platform::win32 {

// A path in the form the wide file services take; it converts to the
// pointer they expect and lives to the end of the call's full expression.
class WidePath {
 public:
  explicit WidePath(std::wstring path) : path_(std::move(path)) {}
  const wchar_t* c_str() const { return path_.c_str(); }
  operator const wchar_t*() const { return path_.c_str(); }

 private:
  std::wstring path_;
};

// The path (zero-terminated) for a file service. One whose full form is
// MAX_PATH units or longer becomes absolute, normalised and prefixed, so
// that the service accepts it; shorter ones are passed as given.
WidePath wide(const char16_t* path);

}  // namespace platform::win32
