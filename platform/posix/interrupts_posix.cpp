#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "platform/interrupts.h"

namespace platform {

static_assert(SIGHUP == kHangupSignal && SIGINT == kInterruptSignal && SIGTERM == kTerminateSignal);
// The handler may only store to an atomic that needs no lock.
static_assert(std::atomic<int>::is_always_lock_free);

namespace {

std::atomic<int> g_signal{0};
std::atomic<bool> g_watching{false};

constexpr int kWatched[] = {SIGHUP, SIGINT, SIGTERM};

// Runs on whichever thread the system picks; does only what a signal
// handler may: an atomic exchange and _exit.
extern "C" void onSignal(int signal) {
  int none = 0;
  if (g_signal.compare_exchange_strong(none, signal)) return;
  if (signal != SIGHUP) ::_exit(128 + signal);
}

}  // namespace

void watchInterrupts() {
  if (g_watching.exchange(true)) return;
  sigset_t watched;
  sigemptyset(&watched);
  for (const int signal : kWatched) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    // A call the signal lands in carries on: the I/O loops would retry
    // anyway, and stdio would turn an interrupted console write into a
    // lost line.
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
    sigaddset(&watched, signal);
  }
  // A parent may have started the process with these blocked; threads
  // inherit the mask of the one that starts them, so unblocking them here,
  // before the workers start, lets the request reach the process whatever
  // thread the system picks.
  ::pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
}

int interruptSignal() { return g_signal.load(std::memory_order_relaxed); }

int interruptExitStatus() {
  const int signal = interruptSignal();
  return signal == 0 ? 0 : 128 + signal;
}

void interruptHandled() {}

void raiseInterruptForTesting(int signal) { onSignal(signal); }

bool deliverInterruptForTesting(int signal) { return ::kill(::getpid(), signal) == 0; }

void resetInterruptsForTesting() { g_signal.store(0); }

}  // namespace platform
