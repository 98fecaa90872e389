#include "ostra/task_dispatcher.h"

#include "ostra/clock.h"
#include "ostra/fatal.h"
#include "platform/sync.h"

namespace Ostra {

namespace {

// Process-wide dispatcher state. Never destroyed: a worker may still be
// ending while the process exits.
struct DispatchRuntime {
  // Idle workers block here; a packet carries nothing but "look again".
  platform::WakePort port;
  std::atomic<TaskDispatcher*> current{nullptr};
  // Incremented under the dispatcher lock before a worker blocks, so that
  // every wake-up decided under the lock counts every worker about to block.
  std::atomic<std::int32_t> waiting{0};
};

DispatchRuntime& runtime() {
  static DispatchRuntime* const r = new DispatchRuntime;
  return *r;
}

[[maybe_unused]] const bool g_dispatchReady = (runtime(), true);

constexpr std::uintptr_t kWakeKey = 0;

}  // namespace

TaskDispatcher* currentDispatcher() { return runtime().current.load(std::memory_order_acquire); }

std::int32_t waitingWorkers() { return runtime().waiting.load(std::memory_order_acquire); }

TaskDispatcher::TaskDispatcher() = default;

TaskDispatcher::~TaskDispatcher() {
  // An update that copied the callback before it was cleared may still be
  // inside onTick: nothing goes before the clock thread has ended.
  if (clearClockCallback(this)) platform::waitForThread(clockThread_);
  // Workers started but never waited for would outlive the dispatcher.
  if (group_.live() > 0) {
    stop();
    group_.join();
  }
  // Tasks still filed must not keep links into lists that are going away.
  releasePending([](Task*) {});
}

void TaskDispatcher::takePending(TaskList& out) {
  LockGuard guard(lock_);
  while (Task* t = ready_.pop_front()) out.push_back(t);
  readyCount_ = 0;
  wheel_.drain([&out](Task* t) { out.push_back(t); });
  for (Task* t = out.front(); t; t = out.next(t)) t->state = Task::Idle;
}

void TaskDispatcher::makeReady(Task* task) noexcept {
  task->state = Task::Ready;
  ready_.push_back(task);
  ++readyCount_;
}

void TaskDispatcher::makeReadyAndWake(Task* task) {
  const bool wasEmpty = ready_.empty();
  makeReady(task);
  if (wasEmpty) wakeOne();
}

void TaskDispatcher::wakeOne() {
  DispatchRuntime& r = runtime();
  if (r.waiting.load(std::memory_order_acquire) > 0) r.port.post(kWakeKey);
}

void TaskDispatcher::wakeAll() {
  DispatchRuntime& r = runtime();
  for (std::int32_t n = r.waiting.load(std::memory_order_acquire); n > 0; --n) r.port.post(kWakeKey);
}

void TaskDispatcher::post(Task* task) {
  LockGuard guard(lock_);
  switch (task->state) {
    case Task::Timed:
      TimerWheel::remove(task);
      makeReadyAndWake(task);
      break;
    case Task::Idle:
      makeReadyAndWake(task);
      break;
    case Task::Running:
      task->state = Task::Reposted;
      break;
    case Task::Ready:
    case Task::Reposted:
      break;
    default:
      fatal("TaskDispatcher::post: task in an impossible state");
  }
}

void TaskDispatcher::settle(TaskContext& context, Task* task) {
  if (context.dispatcher != this) fatal("TaskDispatcher::settle: the task runs on another dispatcher");
  {
    LockGuard guard(lock_);
    switch (task->state) {
      case Task::Running:
        // The calling worker is still inside the run: another must be woken.
        applyDisposition(task, context.disposition, true);
        break;
      case Task::Reposted:
        makeReadyAndWake(task);
        break;
      default:
        fatal("TaskDispatcher::settle: the task is not running");
    }
  }
  context.disposition = TaskContext::Settled;
}

// Lock held. No wake-up: the calling worker goes on with the ready list itself.
void TaskDispatcher::afterRun(const TaskContext& context, Task* task) {
  // A settled task may already be gone.
  if (context.disposition == TaskContext::Settled) return;
  switch (task->state) {
    case Task::Reposted:
      makeReady(task);
      return;
    case Task::Running:
      applyDisposition(task, context.disposition, false);
      return;
    default:
      fatal("TaskDispatcher: a task that ran is in an impossible state");
  }
}

// Lock held. What a running task asked for when its run ended or settled.
void TaskDispatcher::applyDisposition(Task* task, std::int32_t disposition, bool wake) {
  switch (disposition) {
    case TaskContext::Done:
      task->state = Task::Idle;
      break;
    case TaskContext::Requeue:
      wake ? makeReadyAndWake(task) : makeReady(task);
      break;
    case TaskContext::RunAtDue:
      if (tickDiff(static_cast<std::uint32_t>(currentTick()), static_cast<std::uint32_t>(task->due)) >= 0) {
        wake ? makeReadyAndWake(task) : makeReady(task);
      } else {
        task->state = Task::Timed;
        wheel_.insert(task);
      }
      break;
    default:
      fatal("TaskDispatcher: a task asked for an unknown disposition");
  }
}

// Entered and left with the lock held.
void TaskDispatcher::waitOnPort() {
  ThrControl* self = ThrControl::current();
  self->activity.store("TaskDispatcher::wait", std::memory_order_relaxed);
  self->waitingOn.store("IOCP TaskDispatcher", std::memory_order_relaxed);
  DispatchRuntime& r = runtime();
  r.waiting.fetch_add(1, std::memory_order_acq_rel);
  lock_.leave();
  const std::uintptr_t key = r.port.wait();
  r.waiting.fetch_sub(1, std::memory_order_acq_rel);
  if (key != kWakeKey) fatal("TaskDispatcher: a wake-up packet with a foreign key");
  lock_.enter();
  self->activity.store(nullptr, std::memory_order_relaxed);
  self->waitingOn.store(nullptr, std::memory_order_relaxed);
}

void TaskDispatcher::workerLoop(const std::atomic<std::int32_t>* state) {
  lock_.enter();
  for (;;) {
    switch (state->load(std::memory_order_relaxed)) {
      case ThrGroup::Active:
        if (ready_.empty()) {
          waitOnPort();
          continue;
        }
        break;
      case ThrGroup::Stopping:
        if (ready_.empty()) {
          lock_.leave();
          return;
        }
        break;
      case ThrGroup::Suspended:
        lock_.leave();
        ThrControl::current()->group->acknowledgeSuspend();
        lock_.enter();
        continue;
      default:
        fatal("TaskDispatcher: the worker group is in an impossible state");
    }
    Task* task = ready_.pop_front();
    --readyCount_;
    task->state = Task::Running;
    TaskContext context;
    context.disposition = TaskContext::Done;
    context.dispatcher = this;
    // Wake-ups chain from worker to worker while tasks remain.
    if (!ready_.empty()) wakeOne();
    lock_.leave();
    task->run(context, currentTick());
    lock_.enter();
    afterRun(context, task);
  }
}

void TaskDispatcher::WorkThread::run() { dispatcher->workerLoop(groupState); }

void TaskDispatcher::onTick(void* arg) {
  auto* d = static_cast<TaskDispatcher*>(arg);
  LockGuard guard(d->lock_);
  d->wheel_.advance(currentTick());
  while (Task* t = d->wheel_.expired().pop_front()) d->makeReady(t);
  if (!d->ready_.empty()) d->wakeOne();
}

bool TaskDispatcher::start() {
  // Started once; and the clock serves one dispatcher at a time.
  if (started_) fatal("TaskDispatcher::start: started twice");
  // All the memory comes first, so that a shortage leaves nothing to undo.
  if (!group_.reserveRecords(1)) return false;
  if (!registerClockCallback(&onTick, this)) fatal("TaskDispatcher::start: the clock serves another dispatcher");
  started_ = true;
  clockThread_ = startClockThread();
  runtime().current.store(this, std::memory_order_release);
  // Without this thread the caller of wait still works through the list alone.
  group_.startThread(xtd::ref_ptr<Thread::ThrBody>(&startedBody_));
  return true;
}

void TaskDispatcher::wait() {
  group_.runHere(xtd::ref_ptr<Thread::ThrBody>(&hostedBody_));
  group_.join();
}

void TaskDispatcher::stop() {
  {
    LockGuard guard(lock_);
    group_.requestSuspend();
    // Workers blocked on the port must come and see the new state.
    wakeAll();
  }
  group_.suspendAndWait();
  {
    LockGuard guard(lock_);
    group_.stop();
    wakeAll();
  }
}

std::uint32_t TaskDispatcher::readyCount() {
  LockGuard guard(lock_);
  return readyCount_;
}

TimerWheel::Place TaskDispatcher::wheelPlace(const Task* task) {
  LockGuard guard(lock_);
  return wheel_.locate(task);
}

}  // namespace Ostra
