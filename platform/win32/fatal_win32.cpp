#include <cstdio>
#include <cstring>

#include "platform/fatal_line.h"
#include "platform/win32/windows_min.h"

namespace platform::fatal_line {

void writeStandardError(const char* data, std::size_t size) noexcept {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (!handle || handle == INVALID_HANDLE_VALUE) return;
  while (size > 0) {
    DWORD written = 0;
    if (!::WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

std::size_t systemErrorText(std::uint32_t error, char* out, std::size_t capacity) noexcept {
  wchar_t wide[512];
  // The width flag turns the message's own line breaks into spaces: the
  // whole report stays on one line.
  DWORD units = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                 nullptr, error, 0, wide, sizeof wide / sizeof wide[0], nullptr);
  while (units > 0 && (wide[units - 1] == L' ' || wide[units - 1] == L'\r' || wide[units - 1] == L'\n')) --units;
  char utf8[3 * (sizeof wide / sizeof wide[0])];
  int bytes = units == 0 ? 0
                         : ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), utf8, sizeof utf8, nullptr,
                                                 nullptr);
  if (bytes <= 0) bytes = std::snprintf(utf8, sizeof utf8, "error %lu", static_cast<unsigned long>(error));
  std::size_t take = static_cast<std::size_t>(bytes) < capacity ? static_cast<std::size_t>(bytes) : capacity;
  // A cut falls between characters, not inside one.
  if (take < static_cast<std::size_t>(bytes))
    while (take > 0 && (static_cast<unsigned char>(utf8[take]) & 0xC0u) == 0x80u) --take;
  std::memcpy(out, utf8, take);
  return take;
}

}  // namespace platform::fatal_line
