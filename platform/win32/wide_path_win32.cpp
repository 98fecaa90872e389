#include <string_view>

#include "platform/long_path.h"
#include "platform/win32/windows_min.h"

namespace platform::win32 {

WidePath wide(const char16_t* path) {
  const auto* given = reinterpret_cast<const wchar_t*>(path);
  const std::u16string_view view(path);
  if (hasLongPathPrefix(view)) return WidePath(given);
  // The full form decides: a short relative path can name a long one. The
  // call also turns '/' into '\' and resolves "." and "..", which the
  // prefix would otherwise leave to the file system as names.
  const DWORD size = ::GetFullPathNameW(given, 0, nullptr, nullptr);
  if (size == 0) return WidePath(given);
  std::wstring full(size, L'\0');
  const DWORD n = ::GetFullPathNameW(given, size, full.data(), nullptr);
  if (n == 0 || n >= size || n < kMaxPath) return WidePath(given);
  const std::u16string prefixed = withLongPathPrefix(std::u16string_view(reinterpret_cast<const char16_t*>(full.data()), n));
  return WidePath(std::wstring(reinterpret_cast<const wchar_t*>(prefixed.data()), prefixed.size()));
}

}  // namespace platform::win32
