#include <atomic>

#include "platform/threads.h"

namespace platform {

namespace {
std::atomic<ThreadStarter> g_starter{nullptr};
}

ThreadId startThread(ThreadRoutine routine, void* arg) {
  const ThreadStarter starter = g_starter.load(std::memory_order_relaxed);
  return starter ? starter(routine, arg) : startNativeThread(routine, arg);
}

void setThreadStarterForTesting(ThreadStarter starter) { g_starter.store(starter, std::memory_order_relaxed); }

}  // namespace platform
