#pragma once

#include "platform/sync.h"

namespace Ostra {

// A critical section that carries a constant name, so that a thread's
// control record can say which lock it is waiting for.
class Lock {
 public:
  explicit Lock(const char* name) noexcept : name_(name) {}
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void enter() { mutex_.lock(); }
  void leave() { mutex_.unlock(); }
  const char* name() const noexcept { return name_; }

 private:
  platform::Mutex mutex_;
  const char* name_;
};

// Holds a lock for the rest of the scope.
class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.enter(); }
  ~LockGuard() { lock_.leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace Ostra
