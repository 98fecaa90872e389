// Replaces the global allocation functions of a test binary so that a test
// can make one chosen allocation fail. Compiled into the test executable
// itself (a replacement in a static library might not be the one linked).

#include "tests/support/alloc_faults.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_countdown{0};
std::atomic<bool> g_fired{false};
std::atomic<long> g_allocations{0};

// True when this allocation is the one to fail.
bool failNow() {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  long left = g_countdown.load(std::memory_order_relaxed);
  while (left > 0) {
    if (g_countdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
      if (left == 1) {
        g_fired.store(true);
        return true;
      }
      return false;
    }
  }
  return false;
}

void* allocate(std::size_t n) {
  if (failNow()) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

namespace avdtest {

void failAllocationAt(long n) {
  g_fired.store(false);
  g_countdown.store(n);
}

void disarmAllocationFailure() { g_countdown.store(0); }

bool allocationFailureFired() { return g_fired.load(); }

long allocationCount() { return g_allocations.load(std::memory_order_relaxed); }

}  // namespace avdtest

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

#ifdef AVD_WRAP_MALLOC
// The support library allocates its blocks with malloc; the linker routes
// those calls here (--wrap=malloc).
extern "C" void* __real_malloc(std::size_t n);
extern "C" void* __wrap_malloc(std::size_t n) { return failNow() ? nullptr : __real_malloc(n); }
#endif
