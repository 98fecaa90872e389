#include "platform/clock.h"
#include "platform/win32/windows_min.h"

namespace platform {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns.
constexpr std::int64_t kSeconds1601To1970 = 11644473600LL;

std::int64_t ticksOf(const FILETIME& ft) {
  return static_cast<std::int64_t>((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
}

struct MachineZone {
  bool known = false;
  DYNAMIC_TIME_ZONE_INFORMATION info{};
};

// Read once, as the POSIX side reads TZ once.
const MachineZone& machineZone() {
  static const MachineZone zone = [] {
    MachineZone z;
    z.known = ::GetDynamicTimeZoneInformation(&z.info) != TIME_ZONE_ID_INVALID;
    return z;
  }();
  return zone;
}

// The zone's rules for `year`. With per-year rules turned off the machine
// keeps the fixed transition dates it reports (none when daylight saving
// adjustment is off).
bool rulesFor(const DYNAMIC_TIME_ZONE_INFORMATION& zone, USHORT year, TIME_ZONE_INFORMATION& rules) {
  if (!zone.DynamicDaylightTimeDisabled) {
    DYNAMIC_TIME_ZONE_INFORMATION copy = zone;
    return ::GetTimeZoneInformationForYear(year, &copy, &rules) != FALSE;
  }
  rules = TIME_ZONE_INFORMATION{};
  rules.Bias = zone.Bias;
  rules.StandardDate = zone.StandardDate;
  rules.StandardBias = zone.StandardBias;
  rules.DaylightDate = zone.DaylightDate;
  rules.DaylightBias = zone.DaylightBias;
  return true;
}

bool toLocal(const DYNAMIC_TIME_ZONE_INFORMATION& zone, USHORT year, const SYSTEMTIME& utc, SYSTEMTIME& local) {
  TIME_ZONE_INFORMATION rules;
  return rulesFor(zone, year, rules) && ::SystemTimeToTzSpecificLocalTime(&rules, &utc, &local) != FALSE;
}

}  // namespace

WallTime systemTime() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const std::int64_t since1601 = ticksOf(ft);
  // 100-ns units from 1601 to 1970.
  const std::uint64_t micros = static_cast<std::uint64_t>((since1601 - 116444736000000000LL) / 10);
  return WallTime{micros / 1000000u, static_cast<std::uint32_t>(micros % 1000000u)};
}

bool localTimeAt(std::int64_t seconds, LocalTime& out) {
  const MachineZone& zone = machineZone();
  // FILETIME holds no earlier moment; the upper bound keeps the tick count in range.
  if (!zone.known || seconds < -kSeconds1601To1970 || seconds > 900000000000LL) return false;
  const std::int64_t ticks = (seconds + kSeconds1601To1970) * kTicksPerSecond;
  const FILETIME utcTicks{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc;
  SYSTEMTIME local;
  if (!::FileTimeToSystemTime(&utcTicks, &utc) || !toLocal(zone.info, utc.wYear, utc, local)) return false;
  // Across New Year the rules of the local year are the ones in force.
  if (local.wYear != utc.wYear && !toLocal(zone.info, local.wYear, utc, local)) return false;
  FILETIME localTicks;
  if (!::SystemTimeToFileTime(&local, &localTicks)) return false;
  out = LocalTime{local.wYear, local.wMonth,  local.wDay,
                  local.wHour, local.wMinute, local.wSecond,
                  static_cast<std::int32_t>((ticksOf(localTicks) - ticks) / kTicksPerSecond)};
  return true;
}

}  // namespace platform
