#include "platform/program.h"
#include "platform/utf8_codec.h"
#include "platform/win32/windows_min.h"

#include <shellapi.h>

namespace platform {

std::uint32_t programPath(char16_t* buffer, std::uint32_t capacity) {
  if (capacity == 0) return 0;
  const DWORD n = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), capacity);
  // On truncation the call fills the buffer; keep it terminated either way.
  const std::uint32_t count = n >= capacity ? capacity - 1 : n;
  buffer[count] = u'\0';
  return count;
}

std::vector<std::string> argumentsAsUtf8(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) {
    const auto* first = reinterpret_cast<const char16_t*>(wide[i]);
    std::string bytes;
    utf8::encode(first, first + ::wcslen(wide[i]), bytes);
    args.push_back(std::move(bytes));
  }
  ::LocalFree(wide);
  return args;
}

// Encoded from the wide command line, an argument always decodes back to
// itself; the check still stops the narrow fallback's code-page bytes.
bool argumentDecodesExactly(const char* bytes, std::size_t size) {
  std::u16string decoded;
  return utf8::decodeExactly(bytes, size, decoded);
}

}  // namespace platform
