#include "platform/clock.h"
#include "platform/win32/windows_min.h"

namespace platform {

WallTime systemTime() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const std::int64_t since1601 = static_cast<std::int64_t>((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
  // 100-ns units from 1601 to 1970.
  const std::uint64_t micros = static_cast<std::uint64_t>((since1601 - 116444736000000000LL) / 10);
  return WallTime{micros / 1000000u, static_cast<std::uint32_t>(micros % 1000000u)};
}

}  // namespace platform
