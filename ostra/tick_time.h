#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace Ostra {

// A tick is 10 ms, counted from program start in 32-bit signed arithmetic
// that wraps; two ticks are compared only through their signed difference.
using Tick = std::int32_t;

inline constexpr std::int32_t kUnsetDistance = 0x3FFFFFFF;

// Fixes the clock origin so that the current time is tick 0 (once).
void initClock();

// (seconds, microseconds since 1970) as a tick, modulo 2^32.
std::uint32_t toTicks(std::uint64_t seconds, std::uint32_t microseconds);

// The tick of the last clock update; read by any thread without a lock.
Tick currentTick();

// Moves currentTick forward to `tick`; written only by the clock thread.
void storeCurrentTick(Tick tick);

// A tick 2^30 + 511 ticks before now, which counts as unset for ~124 days.
Tick unsetTick();
bool isUnset(Tick value);

// Signed distance a - b in ticks.
inline std::int32_t tickDiff(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b); }

// The wall-clock time the tick follows: the system's, unless a test has
// put a source of its own in place to control time.
using TimeSource = platform::WallTime (*)();
platform::WallTime wallTime();
void setTimeSourceForTesting(TimeSource source);  // null restores the system clock

}  // namespace Ostra
