#pragma once

#include <atomic>
#include <cstdint>

#include "ostra/lock.h"
#include "platform/sync.h"

namespace Ostra {

// A named condition used with an Ostra::Lock, built from a counting
// semaphore and an auto-reset event. A broadcast releases exactly the
// threads waiting at that moment and returns only once all of them have
// left the counting section, so nobody can change the guarded state in
// between. Waiters re-check their predicate: wait has no condition of its own.
class Cond {
 public:
  explicit Cond(const char* name) noexcept : name_(name) {}
  Cond(const Cond&) = delete;
  Cond& operator=(const Cond&) = delete;

  // `lock` is held by the caller; it is released while blocked and held again on return.
  void wait(Lock& lock);
  // Called with the lock of the waiters held.
  void broadcast();

  const char* name() const noexcept { return name_; }
  std::int32_t waiters() const noexcept { return waiters_.load(std::memory_order_relaxed); }

 private:
  platform::Semaphore semaphore_;
  platform::AutoResetEvent event_;
  std::atomic<std::int32_t> broadcasting_{0};
  std::atomic<std::int32_t> waiters_{0};
  const char* name_;
};

}  // namespace Ostra
