#pragma once

#include "platform/threads.h"

namespace Ostra {

// The clock callback: called with its argument on the thread that advanced
// the tick, after the clock lock has been released.
using ClockCallback = void (*)(void* arg);

// Registers the one callback; false (and no change) if one is registered already.
bool registerClockCallback(ClockCallback callback, void* arg);
// Clears the callback if `arg` is its registered argument and reports
// whether it did. An update that copied the callback just before may still
// call it; wait for the clock thread's end before destroying `arg`.
bool clearClockCallback(void* arg);
bool clockCallbackRegistered();

// Advances currentTick to the wall time and, if it moved, calls the
// callback once, however many ticks the update skipped. The tick never
// moves backwards: a clock set back is absorbed until it has caught up.
void updateClock();

// The clock loop: updates about once per millisecond and returns once the
// callback has been cleared.
void timerThread();

// Starts timerThread on a thread of its own; 0 if it could not be started.
platform::ThreadId startClockThread();

}  // namespace Ostra
