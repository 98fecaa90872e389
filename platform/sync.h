#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Synchronisation objects. None of them can be copied or moved; creating
// one that the system refuses ends the process through fatalSystemError,
// since nothing above could go on without it.

// A non-recursive mutual-exclusion lock.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock();
  void unlock();

 private:
  // The system's lock lives inline: it is taken on every hot path.
  alignas(8) unsigned char storage_[64];
};

// A counting semaphore that starts at 0.
class Semaphore {
 public:
  Semaphore();
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  void release(std::int32_t count);
  // Blocks until the count is positive, then takes one.
  void wait();

 private:
  void* impl_;
};

// An event that starts unsignalled and lets exactly one wait through per set.
class AutoResetEvent {
 public:
  AutoResetEvent();
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void set();
  void wait();

 private:
  void* impl_;
};

// A wake-up queue: every posted packet carries only a key, packets posted
// while nobody waits stay queued, and each packet wakes exactly one waiter.
// Posting allocates nothing of the process's heap, so it may be done under
// any lock; the POSIX queue holds up to 16 runs of different keys at once.
class WakePort {
 public:
  WakePort();
  ~WakePort();
  WakePort(const WakePort&) = delete;
  WakePort& operator=(const WakePort&) = delete;

  void post(std::uintptr_t key);
  // Blocks until a packet is available and returns its key.
  std::uintptr_t wait();

 private:
  void* impl_;
};

}  // namespace platform
