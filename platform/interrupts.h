#pragma once

namespace platform {

// The user's or the system's request to stop the run: Ctrl-C, a stop
// from a service manager or a script, a console that goes away. The
// request is only recorded here; the program acts on it at its own safe
// points (no new conversion, the ones in progress abandoned), then reports
// and exits with interruptExitStatus().
//
// Nothing here wakes a sleeping thread, and no callback runs on the
// request: every thread that is busy for long, the main thread included,
// is a worker that checks interruptSignal() between the frames it converts
// (and the scan between directories), and a thread that waits does so for
// work that such a worker ends or hands out, so none sleeps through a
// request. A callback would need a thread of its own on POSIX (a signal
// handler may do nothing but store), for no reader that polling misses.

// The requests by the number a POSIX system gives their signals; on
// Windows the console's events are mapped onto them.
inline constexpr int kHangupSignal = 1;     // SIGHUP; a console closed, a logoff, a shutdown
inline constexpr int kInterruptSignal = 2;  // SIGINT; Ctrl-C and Ctrl-Break
inline constexpr int kTerminateSignal = 15; // SIGTERM

// Starts watching: SIGINT, SIGTERM and SIGHUP on POSIX; on Windows the
// console control events. A signal the process was started with ignored
// (nohup, a background job of a script) stays ignored, as the one who
// started it asked; the same holds on Windows for a Ctrl-C disabled for
// the process's group. The first request is recorded. A second Ctrl-C or
// SIGTERM ends the process at once with 128 + its signal number, leaving
// whatever is in progress as a kill would. A repeated hangup does not,
// since it is no person insisting: a shell that loses its terminal passes
// the hangup on, and the terminal's own may follow it. Call once, early,
// before the workers start; a second call changes nothing.
void watchInterrupts();

// 0 until a request arrived, then its signal number. One relaxed load,
// cheap enough to check for every frame.
int interruptSignal();

// 128 + interruptSignal(), the status a shell reports for a program ended
// by that signal; 0 while no request arrived.
int interruptExitStatus();

// Windows ends a process whose console was closed (or whose session ends)
// as soon as the handler for that event returns, and the system waits
// about 5 s for it before ending the process anyway. The handler
// therefore waits, 4.5 s at most, until the program calls this, after its
// clean-up and its report. Does nothing on POSIX.
void interruptHandled();

// Test seam: behaves as if the request had arrived, first or second,
// through the same path as the system's own. On Windows a hangup stands
// for the console being closed and blocks the caller until
// interruptHandled() or the time-out, as it blocks the system's thread.
void raiseInterruptForTesting(int signal);

// Test seam: asks the system to deliver the signal to this process (to the
// whole process, not to the calling thread). False when the system
// refused, and always on Windows, where no console event can be sent to
// one process alone.
bool deliverInterruptForTesting(int signal);

// Test seam: forgets any request (and that interruptHandled was called).
void resetInterruptsForTesting();

}  // namespace platform
