#include "platform/fatal.h"
#include "platform/sync.h"
#include "platform/win32/windows_min.h"

namespace platform {

namespace {

CRITICAL_SECTION* native(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }

HANDLE checked(HANDLE h, const char* call) {
  if (!h) fatalSystemError(call, ::GetLastError());
  return h;
}

}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 8);

Mutex::Mutex() { ::InitializeCriticalSection(native(storage_)); }
Mutex::~Mutex() { ::DeleteCriticalSection(native(storage_)); }
void Mutex::lock() { ::EnterCriticalSection(native(storage_)); }
void Mutex::unlock() { ::LeaveCriticalSection(native(storage_)); }

Semaphore::Semaphore() : impl_(checked(::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr), "CreateSemaphoreW")) {}
Semaphore::~Semaphore() { ::CloseHandle(static_cast<HANDLE>(impl_)); }
void Semaphore::release(std::int32_t count) {
  if (count > 0 && !::ReleaseSemaphore(static_cast<HANDLE>(impl_), count, nullptr))
    fatalSystemError("ReleaseSemaphore", ::GetLastError());
}
void Semaphore::wait() { ::WaitForSingleObject(static_cast<HANDLE>(impl_), INFINITE); }

AutoResetEvent::AutoResetEvent() : impl_(checked(::CreateEventW(nullptr, FALSE, FALSE, nullptr), "CreateEventW")) {}
AutoResetEvent::~AutoResetEvent() { ::CloseHandle(static_cast<HANDLE>(impl_)); }
void AutoResetEvent::set() {
  if (!::SetEvent(static_cast<HANDLE>(impl_))) fatalSystemError("SetEvent", ::GetLastError());
}
void AutoResetEvent::wait() { ::WaitForSingleObject(static_cast<HANDLE>(impl_), INFINITE); }

// A completion port with no file attached serves as the wake-up queue.
WakePort::WakePort()
    : impl_(checked(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0), "CreateIoCompletionPort")) {}
WakePort::~WakePort() { ::CloseHandle(static_cast<HANDLE>(impl_)); }

void WakePort::post(std::uintptr_t key) {
  // A lost packet could leave a worker blocked for good: better a clear end.
  if (!::PostQueuedCompletionStatus(static_cast<HANDLE>(impl_), 0, key, nullptr))
    fatalSystemError("PostQueuedCompletionStatus", ::GetLastError());
}

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
