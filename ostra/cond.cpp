#include "ostra/cond.h"

namespace Ostra {

void Cond::wait(Lock& lock) {
  waiters_.fetch_add(1, std::memory_order_acq_rel);
  lock.leave();
  semaphore_.wait();
  // The last thread out of a broadcast tells the broadcaster it may go on.
  if (waiters_.fetch_sub(1, std::memory_order_acq_rel) == 1 && broadcasting_.load(std::memory_order_acquire) != 0)
    event_.set();
  lock.enter();
}

void Cond::broadcast() {
  const std::int32_t n = waiters_.load(std::memory_order_acquire);
  if (n <= 0) return;
  broadcasting_.store(1, std::memory_order_release);
  semaphore_.release(n);
  event_.wait();
  broadcasting_.store(0, std::memory_order_release);
}

}  // namespace Ostra
