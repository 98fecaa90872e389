#include <time.h>

#include <mutex>

#include "platform/clock.h"

namespace platform {

WallTime systemTime() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return WallTime{static_cast<std::uint64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec / 1000)};
}

bool localTimeAt(std::int64_t seconds, LocalTime& out) {
  // localtime_r need not read TZ itself.
  static std::once_flag zoneRead;
  std::call_once(zoneRead, [] { ::tzset(); });
  const time_t t = static_cast<time_t>(seconds);
  if (static_cast<std::int64_t>(t) != seconds) return false;
  tm local{};
  if (::localtime_r(&t, &local) == nullptr) return false;
  out = LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min,         local.tm_sec,     static_cast<std::int32_t>(local.tm_gmtoff)};
  return true;
}

}  // namespace platform
