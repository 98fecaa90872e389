#pragma once

#include <atomic>
#include <cstdint>

#include "ostra/lock.h"
#include "ostra/task.h"
#include "ostra/thread.h"
#include "ostra/timer_wheel.h"
#include "platform/threads.h"

namespace Ostra {

// Runs tasks on a small pool of workers: one thread started by `start` and
// the thread that calls `wait`. Pending tasks wait in one ready list; idle
// workers block on the process-wide wake-up port, and a packet is posted
// only when the ready list turns non-empty while a worker is blocked.
// Delayed tasks wait in a timer wheel that the clock thread advances.
//
// Usage: construct, post, start, wait (returns once stop has been called
// and the workers have drained the ready list), destroy. One dispatcher at
// a time may be started: the clock and the port are the process's.
class TaskDispatcher {
 public:
  TaskDispatcher();
  // Stops and joins workers still running, stops the clock thread and
  // leaves tasks still filed Idle and unlinked (they are not run or freed).
  ~TaskDispatcher();
  TaskDispatcher(const TaskDispatcher&) = delete;
  TaskDispatcher& operator=(const TaskDispatcher&) = delete;

  // Makes the task ready; a running task is run once more after its current run.
  void post(Task* task);
  // From inside the task's own run: applies context.disposition at once and
  // sets it to Settled. After settling, the task may be picked up by
  // another worker (or, if Done, destroyed) before run returns.
  void settle(TaskContext& context, Task* task);
  // Registers the clock callback, starts the clock thread and one worker
  // thread. False, with nothing registered or started, when there was no
  // memory for the worker: the tasks stay filed, for wait or releasePending.
  // A thread the system does not start is done without: no clock means
  // time does not advance, no worker means the caller of wait works alone.
  [[nodiscard]] bool start();
  // Works as a member of the worker group on the calling thread, then
  // returns once every worker has ended. Needs no memory. Without start,
  // the calling thread is the only worker and time does not advance for
  // RunAtDue tasks.
  void wait();
  // Suspends every worker until each has acknowledged, then lets them drain
  // the ready list and end. Returns once the other workers have
  // acknowledged; the caller must hold nothing a running task still needs.
  void stop();

  // Hands every task still filed (ready or timed) to `release`, Idle and
  // unlinked, outside the lock; for a dispatcher no worker runs in, such as
  // one whose start failed, so that its tasks go without being run.
  template <class Fn>
  void releasePending(Fn release) {
    TaskList pending;
    takePending(pending);
    while (Task* task = pending.pop_front()) release(task);
  }

  // The clock callback (argument: the dispatcher): moves expired tasks to
  // the ready list.
  static void onTick(void* dispatcher);

  // Snapshots under the dispatcher lock, for diagnostics and tests.
  std::uint32_t readyCount();
  TimerWheel::Place wheelPlace(const Task* task);
  std::int32_t groupState() const noexcept { return group_.state(); }

  // The body of a worker thread: the worker loop for one dispatcher.
  class WorkThread : public Thread::ThrBody {
   public:
    explicit WorkThread(TaskDispatcher* owner) noexcept : dispatcher(owner) {}
    void run() override;
    // A member of its dispatcher, so that start and wait need no memory for
    // it: the last reference going frees nothing.
    void destroy() noexcept override {}

    TaskDispatcher* dispatcher;
  };

 private:
  void takePending(TaskList& out);
  void workerLoop(const std::atomic<std::int32_t>* state);
  void waitOnPort();
  void afterRun(const TaskContext& context, Task* task);
  void applyDisposition(Task* task, std::int32_t disposition, bool wake);
  void makeReady(Task* task) noexcept;
  void makeReadyAndWake(Task* task);
  void wakeOne();
  void wakeAll();

  Lock lock_{"TaskDispatcher"};
  TaskList ready_;
  std::uint32_t readyCount_ = 0;
  TimerWheel wheel_;
  // The bodies outlive the group: destroying it waits for the threads that
  // still drop their references.
  WorkThread startedBody_{this};
  WorkThread hostedBody_{this};
  ThrGroup group_;
  platform::ThreadId clockThread_ = 0;
  bool started_ = false;
};

// The dispatcher most recently started, or null; never reset.
TaskDispatcher* currentDispatcher();
// Workers blocked on the wake-up port right now.
std::int32_t waitingWorkers();

}  // namespace Ostra
