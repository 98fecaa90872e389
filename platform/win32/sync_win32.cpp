#include <cstdlib>

#include "platform/sync.h"
#include "platform/win32/windows_min.h"

namespace platform {

namespace {

CRITICAL_SECTION* native(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }

HANDLE checked(HANDLE h) {
  if (!h) std::abort();
  return h;
}

}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 8);

Mutex::Mutex() { ::InitializeCriticalSection(native(storage_)); }
Mutex::~Mutex() { ::DeleteCriticalSection(native(storage_)); }
void Mutex::lock() { ::EnterCriticalSection(native(storage_)); }
void Mutex::unlock() { ::LeaveCriticalSection(native(storage_)); }

Semaphore::Semaphore() : impl_(checked(::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr))) {}
Semaphore::~Semaphore() { ::CloseHandle(static_cast<HANDLE>(impl_)); }
void Semaphore::release(std::int32_t count) {
  if (count > 0) ::ReleaseSemaphore(static_cast<HANDLE>(impl_), count, nullptr);
}
void Semaphore::wait() { ::WaitForSingleObject(static_cast<HANDLE>(impl_), INFINITE); }

AutoResetEvent::AutoResetEvent() : impl_(checked(::CreateEventW(nullptr, FALSE, FALSE, nullptr))) {}
AutoResetEvent::~AutoResetEvent() { ::CloseHandle(static_cast<HANDLE>(impl_)); }
void AutoResetEvent::set() { ::SetEvent(static_cast<HANDLE>(impl_)); }
void AutoResetEvent::wait() { ::WaitForSingleObject(static_cast<HANDLE>(impl_), INFINITE); }

// A completion port with no file attached serves as the wake-up queue.
WakePort::WakePort() : impl_(checked(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0))) {}
WakePort::~WakePort() { ::CloseHandle(static_cast<HANDLE>(impl_)); }

void WakePort::post(std::uintptr_t key) { ::PostQueuedCompletionStatus(static_cast<HANDLE>(impl_), 0, key, nullptr); }

std::uintptr_t WakePort::wait() {
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  // A failed call dequeues nothing and leaves key 0: the caller re-checks
  // its state after every wake-up, so a spurious one does no harm.
  ::GetQueuedCompletionStatus(static_cast<HANDLE>(impl_), &bytes, &key, &overlapped, INFINITE);
  return key;
}

}  // namespace platform
