#pragma once

#include <cstdint>

namespace platform {

// A thread's id as the system numbers it; 0 stands for no thread.
using ThreadId = std::uint32_t;
using ThreadRoutine = void (*)(void* arg);

// Starts routine(arg) on a new thread and returns its id, or 0 when no
// thread could be started. An exception that leaves the routine ends the
// process. The layer keeps what it needs to wait for the thread until
// waitForThread has been called for it, so the id cannot name another
// thread in the meantime.
ThreadId startThread(ThreadRoutine routine, void* arg);

// Blocks until the thread has ended and releases what the layer kept for
// it. Returns at once for 0 and for the calling thread's own id.
void waitForThread(ThreadId id);

ThreadId currentThreadId();

// Test seam: routes startThread through `starter` from now on (null restores
// the system's). A starter may fail by returning 0 or hand the work on to
// startNativeThread.
using ThreadStarter = ThreadId (*)(ThreadRoutine routine, void* arg);
void setThreadStarterForTesting(ThreadStarter starter);
ThreadId startNativeThread(ThreadRoutine routine, void* arg);

// One pointer per thread, null on every thread until set there. Nothing
// can go on without its slot: when the system refuses one, or memory for a
// thread's first value, the process ends through fatalSystemError.
using ThreadSlot = std::uintptr_t;
ThreadSlot allocThreadSlot();
void* threadSlotValue(ThreadSlot slot);
void setThreadSlotValue(ThreadSlot slot, void* value);

// Test seam: while set, allocThreadSlot meets the refusal the system gives
// when it is out of memory.
void refuseThreadSlotsForTesting(bool refuse);

// A one-shot wait of about one millisecond, re-armed for each wait.
class MillisecondTimer {
 public:
  MillisecondTimer();
  ~MillisecondTimer();
  MillisecondTimer(const MillisecondTimer&) = delete;
  MillisecondTimer& operator=(const MillisecondTimer&) = delete;

  void wait();

 private:
  [[maybe_unused]] void* timer_ = nullptr;  // the system timer where there is one
};

}  // namespace platform
