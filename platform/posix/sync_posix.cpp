#include <pthread.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#include "platform/fatal.h"
#include "platform/sync.h"

namespace platform {

namespace {

pthread_mutex_t* native(unsigned char* storage) { return reinterpret_cast<pthread_mutex_t*>(storage); }

struct SemaphoreImpl {
  std::mutex lock;
  std::condition_variable cv;
  std::int64_t count = 0;
};

struct EventImpl {
  std::mutex lock;
  std::condition_variable cv;
  bool signalled = false;
};

// Queued packets are kept as runs of one key, oldest first, in a fixed
// ring: packets of one key cannot be told apart, and posting must not
// allocate, since the dispatcher posts with its own lock held.
struct PortImpl {
  struct Run {
    std::uintptr_t key;
    std::uint64_t count;
  };
  static constexpr std::uint32_t kRuns = 16;

  std::mutex lock;
  std::condition_variable cv;
  Run runs[kRuns];
  std::uint32_t first = 0;
  std::uint32_t used = 0;
};

template <class T>
T* create() {
  void* block = std::malloc(sizeof(T));
  if (!block) fatalSystemError("malloc", ENOMEM);
  return new (block) T;
}

template <class T>
void destroy(void* impl) {
  static_cast<T*>(impl)->~T();
  std::free(impl);
}

}  // namespace

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 8);

Mutex::Mutex() {
  if (const int error = ::pthread_mutex_init(native(storage_), nullptr))
    fatalSystemError("pthread_mutex_init", static_cast<std::uint32_t>(error));
}
Mutex::~Mutex() { ::pthread_mutex_destroy(native(storage_)); }
void Mutex::lock() { ::pthread_mutex_lock(native(storage_)); }
void Mutex::unlock() { ::pthread_mutex_unlock(native(storage_)); }

Semaphore::Semaphore() : impl_(create<SemaphoreImpl>()) {}
Semaphore::~Semaphore() { destroy<SemaphoreImpl>(impl_); }

void Semaphore::release(std::int32_t count) {
  if (count <= 0) return;
  auto* s = static_cast<SemaphoreImpl*>(impl_);
  {
    std::lock_guard<std::mutex> guard(s->lock);
    s->count += count;
  }
  if (count == 1)
    s->cv.notify_one();
  else
    s->cv.notify_all();
}

void Semaphore::wait() {
  auto* s = static_cast<SemaphoreImpl*>(impl_);
  std::unique_lock<std::mutex> guard(s->lock);
  s->cv.wait(guard, [s] { return s->count > 0; });
  --s->count;
}

AutoResetEvent::AutoResetEvent() : impl_(create<EventImpl>()) {}
AutoResetEvent::~AutoResetEvent() { destroy<EventImpl>(impl_); }

void AutoResetEvent::set() {
  auto* e = static_cast<EventImpl*>(impl_);
  {
    std::lock_guard<std::mutex> guard(e->lock);
    e->signalled = true;
  }
  e->cv.notify_one();
}

void AutoResetEvent::wait() {
  auto* e = static_cast<EventImpl*>(impl_);
  std::unique_lock<std::mutex> guard(e->lock);
  e->cv.wait(guard, [e] { return e->signalled; });
  e->signalled = false;
}

WakePort::WakePort() : impl_(create<PortImpl>()) {}
WakePort::~WakePort() { destroy<PortImpl>(impl_); }

void WakePort::post(std::uintptr_t key) {
  auto* p = static_cast<PortImpl*>(impl_);
  {
    std::lock_guard<std::mutex> guard(p->lock);
    PortImpl::Run* last = p->used == 0 ? nullptr : &p->runs[(p->first + p->used - 1) % PortImpl::kRuns];
    if (last && last->key == key) {
      ++last->count;
    } else {
      if (p->used == PortImpl::kRuns) fatalError("WakePort::post: too many runs of different keys queued");
      p->runs[(p->first + p->used) % PortImpl::kRuns] = PortImpl::Run{key, 1};
      ++p->used;
    }
  }
  p->cv.notify_one();
}

std::uintptr_t WakePort::wait() {
  auto* p = static_cast<PortImpl*>(impl_);
  std::unique_lock<std::mutex> guard(p->lock);
  p->cv.wait(guard, [p] { return p->used > 0; });
  PortImpl::Run& oldest = p->runs[p->first];
  const std::uintptr_t key = oldest.key;
  if (--oldest.count == 0) {
    p->first = (p->first + 1) % PortImpl::kRuns;
    --p->used;
  }
  return key;
}

}  // namespace platform
