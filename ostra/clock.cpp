#include "ostra/clock.h"

#include <atomic>

#include "ostra/lock.h"
#include "ostra/thread.h"
#include "ostra/tick_time.h"

namespace Ostra {

namespace {

// Process-wide clock state. The origin is fixed first, then the lock is
// made. Never destroyed: the clock thread may still be running at exit.
struct ClockState {
  ClockState() { initClock(); }
  Lock lock{"TickTimeLock"};
  // Read without the lock by the clock loop; written under it.
  std::atomic<ClockCallback> callback{nullptr};
  std::atomic<void*> arg{nullptr};
};

ClockState& clockState() {
  static ClockState* const s = new ClockState;
  return *s;
}

[[maybe_unused]] const bool g_clockReady = (clockState(), true);

void clockThreadRoutine(void*) { timerThread(); }

}  // namespace

bool registerClockCallback(ClockCallback callback, void* arg) {
  ClockState& s = clockState();
  LockGuard guard(s.lock);
  if (s.callback.load(std::memory_order_relaxed)) return false;
  s.arg.store(arg, std::memory_order_relaxed);
  s.callback.store(callback, std::memory_order_relaxed);
  return true;
}

bool clearClockCallback(void* arg) {
  ClockState& s = clockState();
  LockGuard guard(s.lock);
  if (!s.callback.load(std::memory_order_relaxed) || s.arg.load(std::memory_order_relaxed) != arg) return false;
  s.callback.store(nullptr, std::memory_order_relaxed);
  s.arg.store(nullptr, std::memory_order_relaxed);
  return true;
}

bool clockCallbackRegistered() { return clockState().callback.load(std::memory_order_relaxed) != nullptr; }

void updateClock() {
  ClockState& s = clockState();
  const platform::WallTime now = wallTime();
  const std::uint32_t t = toTicks(now.seconds, now.microseconds);
  // Most passes land in the tick already reached and take no lock.
  if (t == static_cast<std::uint32_t>(currentTick())) return;
  ClockCallback callback;
  void* arg;
  {
    LockGuard guard(s.lock);
    if (tickDiff(t, static_cast<std::uint32_t>(currentTick())) <= 0) return;
    storeCurrentTick(static_cast<Tick>(t));
    callback = s.callback.load(std::memory_order_relaxed);
    arg = s.arg.load(std::memory_order_relaxed);
  }
  if (callback) callback(arg);
}

void timerThread() {
  ThrControl self;
  self.threadId = platform::currentThreadId();
  ThrControl::setCurrent(&self);
  {
    platform::MillisecondTimer timer;
    updateClock();
    while (clockState().callback.load(std::memory_order_relaxed)) {
      timer.wait();
      updateClock();
    }
  }
  ThrControl::setCurrent(nullptr);
}

platform::ThreadId startClockThread() { return platform::startThread(&clockThreadRoutine, nullptr); }

}  // namespace Ostra
