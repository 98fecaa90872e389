#include <atomic>
#include <new>

#include "platform/fatal.h"
#include "platform/threads.h"
#include "platform/win32/windows_min.h"

namespace platform {

namespace {

struct Started {
  ThreadId id;
  HANDLE handle;
  Started* next;
};

// Threads started here and not yet waited for, with their handles kept
// open: while a handle is open the system does not hand the id to another
// thread, so a later wait by id cannot reach the wrong one.
SRWLOCK g_registryLock = SRWLOCK_INIT;
Started* g_started = nullptr;

std::atomic<bool> g_refuseSlots{false};

struct StartBlock {
  ThreadRoutine routine;
  void* arg;
};

void runRoutine(const StartBlock& block) noexcept { block.routine(block.arg); }

DWORD WINAPI trampoline(LPVOID p) {
  const StartBlock block = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  runRoutine(block);
  return 0;
}

}  // namespace

ThreadId startNativeThread(ThreadRoutine routine, void* arg) {
  auto* block = new (std::nothrow) StartBlock{routine, arg};
  auto* entry = new (std::nothrow) Started{0, nullptr, nullptr};
  if (!block || !entry) {
    delete block;
    delete entry;
    return 0;
  }
  DWORD id = 0;
  // The entry is made before anyone can learn the id, so a wait can always find it.
  ::AcquireSRWLockExclusive(&g_registryLock);
  HANDLE handle = ::CreateThread(nullptr, 0, &trampoline, block, 0, &id);
  if (!handle) {
    ::ReleaseSRWLockExclusive(&g_registryLock);
    delete block;
    delete entry;
    return 0;
  }
  entry->id = id;
  entry->handle = handle;
  entry->next = g_started;
  g_started = entry;
  ::ReleaseSRWLockExclusive(&g_registryLock);
  return id;
}

void waitForThread(ThreadId id) {
  if (id == 0 || id == currentThreadId()) return;
  Started* found = nullptr;
  ::AcquireSRWLockExclusive(&g_registryLock);
  for (Started** p = &g_started; *p; p = &(*p)->next) {
    if ((*p)->id == id) {
      found = *p;
      *p = found->next;
      break;
    }
  }
  ::ReleaseSRWLockExclusive(&g_registryLock);
  if (found) {
    ::WaitForSingleObject(found->handle, INFINITE);
    ::CloseHandle(found->handle);
    delete found;
    return;
  }
  // A thread started elsewhere: wait for it by its id if it still exists.
  HANDLE handle = ::OpenThread(SYNCHRONIZE, FALSE, id);
  if (!handle) return;
  ::WaitForSingleObject(handle, INFINITE);
  ::CloseHandle(handle);
}

ThreadId currentThreadId() { return ::GetCurrentThreadId(); }

ThreadSlot allocThreadSlot() {
  if (g_refuseSlots.load(std::memory_order_relaxed)) fatalSystemError("TlsAlloc", ERROR_NOT_ENOUGH_MEMORY);
  const DWORD index = ::TlsAlloc();
  if (index == TLS_OUT_OF_INDEXES) fatalSystemError("TlsAlloc", ::GetLastError());
  return index;
}

void* threadSlotValue(ThreadSlot slot) { return ::TlsGetValue(static_cast<DWORD>(slot)); }

void setThreadSlotValue(ThreadSlot slot, void* value) {
  if (!::TlsSetValue(static_cast<DWORD>(slot), value)) fatalSystemError("TlsSetValue", ::GetLastError());
}

void refuseThreadSlotsForTesting(bool refuse) { g_refuseSlots.store(refuse, std::memory_order_relaxed); }

MillisecondTimer::MillisecondTimer() : timer_(::CreateWaitableTimerW(nullptr, TRUE, nullptr)) {}

MillisecondTimer::~MillisecondTimer() {
  if (timer_) ::CloseHandle(static_cast<HANDLE>(timer_));
}

void MillisecondTimer::wait() {
  if (!timer_) {
    ::Sleep(1);
    return;
  }
  LARGE_INTEGER due;
  due.QuadPart = -10000;  // relative, in 100-ns units
  HANDLE timer = static_cast<HANDLE>(timer_);
  ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
  ::WaitForMultipleObjects(1, &timer, FALSE, INFINITE);
}

}  // namespace platform
