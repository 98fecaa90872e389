#include "platform/program.h"
#include "platform/win32/windows_min.h"

namespace platform {

std::uint32_t programPath(char16_t* buffer, std::uint32_t capacity) {
  if (capacity == 0) return 0;
  const DWORD n = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), capacity);
  // On truncation the call fills the buffer; keep it terminated either way.
  const std::uint32_t count = n >= capacity ? capacity - 1 : n;
  buffer[count] = u'\0';
  return count;
}

}  // namespace platform
