#include <atomic>

#include "platform/interrupts.h"
#include "platform/win32/windows_min.h"

namespace platform {

namespace {

std::atomic<int> g_signal{0};
std::atomic<bool> g_watching{false};

// Manual-reset: set once the program has cleaned up and reported, so that
// every handler still waiting may let the system end the process. Null
// only when the system refuses an event, and then nobody waits.
HANDLE handledEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

// Under the system's 5 s for a console that is closed (SPI_GETHUNGAPPTIMEOUT)
// and for a logoff or shutdown (SPI_GETWAITTOKILLTIMEOUT; 20 s for a
// service): past those the system ends the process itself.
constexpr DWORD kCleanUpBudgetMs = 4500;

// Records the first request; a second Ctrl-C ends the process at once,
// without running destructors or flushing anything, as _exit does.
void record(int signal, bool endsAtOnceWhenRepeated) {
  int none = 0;
  if (g_signal.compare_exchange_strong(none, signal)) return;
  if (endsAtOnceWhenRepeated) ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(128 + signal));
}

// The system runs this on a thread it creates for each event. Returning
// TRUE stops the other handlers, the default one included (which would
// end the process). After the close, logoff and shutdown events the system
// ends the process whatever the handler returns, so the handler returns
// only once the program is done or its time is up. The logoff and
// shutdown events reach only services: an interactive program is gone by
// then, and one that loads user32 (shell32, which reads our command line,
// does) is treated as a windowed program and never sees them.
BOOL WINAPI onControlEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      record(kInterruptSignal, true);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      record(kHangupSignal, false);
      if (HANDLE handled = handledEvent()) ::WaitForSingleObject(handled, kCleanUpBudgetMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void watchInterrupts() {
  if (g_watching.exchange(true)) return;
  handledEvent();
  // A Ctrl-C disabled for the process (SetConsoleCtrlHandler(NULL, TRUE)
  // by whoever started it, inherited) never reaches the handlers and is
  // left so; Ctrl-Break and the console's end still do.
  ::SetConsoleCtrlHandler(&onControlEvent, TRUE);
}

int interruptSignal() { return g_signal.load(std::memory_order_relaxed); }

int interruptExitStatus() {
  const int signal = interruptSignal();
  return signal == 0 ? 0 : 128 + signal;
}

void interruptHandled() {
  if (HANDLE handled = handledEvent()) ::SetEvent(handled);
}

void raiseInterruptForTesting(int signal) {
  if (signal == kHangupSignal) {
    onControlEvent(CTRL_CLOSE_EVENT);
  } else if (signal == kInterruptSignal) {
    onControlEvent(CTRL_C_EVENT);
  } else {
    record(signal, true);
  }
}

// GenerateConsoleCtrlEvent sends Ctrl-C to every process sharing the
// console, the test runner included, and Ctrl-Break only to a process
// group: no event reaches this process alone.
bool deliverInterruptForTesting(int) { return false; }

void resetInterruptsForTesting() {
  g_signal.store(0);
  if (HANDLE handled = handledEvent()) ::ResetEvent(handled);
}

}  // namespace platform
