#include "ostra/tick_time.h"

namespace Ostra {

namespace {

std::atomic<TimeSource> g_timeSource{&platform::systemTime};
std::atomic<bool> g_initialised{false};
std::atomic<std::uint32_t> g_tickOffset{0};
std::atomic<Tick> g_currentTick{0};

std::uint32_t rawTicks(std::uint64_t seconds, std::uint32_t microseconds) {
  return static_cast<std::uint32_t>(seconds) * 100u + microseconds / 10000u;
}

// The start instant is tick 0; fixed before main by static initialisation.
struct ClockOrigin {
  ClockOrigin() { initClock(); }
} g_origin;

}  // namespace

platform::WallTime wallTime() { return g_timeSource.load(std::memory_order_relaxed)(); }

void setTimeSourceForTesting(TimeSource source) {
  g_timeSource.store(source ? source : &platform::systemTime, std::memory_order_relaxed);
}

void initClock() {
  if (g_initialised.load(std::memory_order_acquire)) return;
  const platform::WallTime now = wallTime();
  g_tickOffset.store(0u - rawTicks(now.seconds, now.microseconds), std::memory_order_relaxed);
  g_initialised.store(true, std::memory_order_release);
}

std::uint32_t toTicks(std::uint64_t seconds, std::uint32_t microseconds) {
  initClock();
  return rawTicks(seconds, microseconds) + g_tickOffset.load(std::memory_order_relaxed);
}

Tick currentTick() { return g_currentTick.load(std::memory_order_relaxed); }

void storeCurrentTick(Tick tick) { g_currentTick.store(tick, std::memory_order_relaxed); }

Tick unsetTick() { return static_cast<Tick>(static_cast<std::uint32_t>(currentTick()) + 0xBFFFFE01u); }

bool isUnset(Tick value) { return tickDiff(static_cast<std::uint32_t>(currentTick()), static_cast<std::uint32_t>(value)) >= kUnsetDistance; }

}  // namespace Ostra
