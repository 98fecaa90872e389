#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "platform/fatal.h"
#include "platform/threads.h"

namespace platform {

namespace {

// POSIX has no small integer thread ids, so the layer numbers threads itself.
std::atomic<ThreadId> g_nextId{1};
thread_local ThreadId t_id = 0;
std::atomic<bool> g_refuseSlots{false};

ThreadId newId() {
  ThreadId id;
  do {
    id = g_nextId.fetch_add(1, std::memory_order_relaxed);
  } while (id == 0);
  return id;
}

struct Started {
  ThreadId id;
  pthread_t thread;
};

// Threads started here and not yet waited for. Never destroyed, so that a
// thread still ending at process exit finds it; kept in static storage, so
// that a first thread start short of memory fails as a start, not a throw.
struct Registry {
  std::mutex lock;
  std::vector<Started> threads;
};
Registry& registry() {
  alignas(Registry) static unsigned char storage[sizeof(Registry)];
  static Registry* r = new (storage) Registry;
  return *r;
}

struct StartBlock {
  ThreadRoutine routine;
  void* arg;
  ThreadId id;
};

extern "C" void* trampoline(void* p) noexcept {
  StartBlock block = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  t_id = block.id;
  block.routine(block.arg);
  return nullptr;
}

}  // namespace

ThreadId startNativeThread(ThreadRoutine routine, void* arg) {
  auto* block = new (std::nothrow) StartBlock{routine, arg, newId()};
  if (!block) return 0;
  const ThreadId id = block->id;
  Registry& r = registry();
  // The entry is made before anyone can learn the id, so a wait can always find it.
  std::lock_guard<std::mutex> guard(r.lock);
  try {
    r.threads.reserve(r.threads.size() + 1);
  } catch (const std::bad_alloc&) {
    delete block;
    return 0;
  }
  pthread_t thread;
  if (::pthread_create(&thread, nullptr, &trampoline, block) != 0) {
    delete block;
    return 0;
  }
  r.threads.push_back(Started{id, thread});
  return id;
}

void waitForThread(ThreadId id) {
  if (id == 0 || id == currentThreadId()) return;
  Registry& r = registry();
  pthread_t thread;
  {
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.threads.begin();
    while (it != r.threads.end() && it->id != id) ++it;
    if (it == r.threads.end()) return;
    thread = it->thread;
    r.threads.erase(it);
  }
  ::pthread_join(thread, nullptr);
}

ThreadId currentThreadId() {
  if (t_id == 0) t_id = newId();
  return t_id;
}

ThreadSlot allocThreadSlot() {
  pthread_key_t key{};
  const int error = g_refuseSlots.load(std::memory_order_relaxed) ? ENOMEM : ::pthread_key_create(&key, nullptr);
  if (error != 0) fatalSystemError("pthread_key_create", static_cast<std::uint32_t>(error));
  return static_cast<ThreadSlot>(key);
}

void* threadSlotValue(ThreadSlot slot) { return ::pthread_getspecific(static_cast<pthread_key_t>(slot)); }

void setThreadSlotValue(ThreadSlot slot, void* value) {
  if (const int error = ::pthread_setspecific(static_cast<pthread_key_t>(slot), value))
    fatalSystemError("pthread_setspecific", static_cast<std::uint32_t>(error));
}

void refuseThreadSlotsForTesting(bool refuse) { g_refuseSlots.store(refuse, std::memory_order_relaxed); }

MillisecondTimer::MillisecondTimer() = default;
MillisecondTimer::~MillisecondTimer() = default;

void MillisecondTimer::wait() {
  timespec pause{0, 1000000};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
