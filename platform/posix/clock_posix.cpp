#include <time.h>

#include "platform/clock.h"

namespace platform {

WallTime systemTime() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return WallTime{static_cast<std::uint64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec / 1000)};
}

}  // namespace platform
