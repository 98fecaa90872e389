#pragma once

#include <cstdint>

#include "ostra/tick_time.h"
#include "xtd/ivlink.h"

namespace Ostra {

class TaskDispatcher;

// What a worker hands to a task for one call of run. The task sets the
// disposition to say what should happen to it after the run.
struct TaskContext {
  enum Disposition : std::int32_t {
    Done = 0,      // the task becomes Idle
    Requeue = 1,   // the task goes to the tail of the ready list
    RunAtDue = 2,  // ready once its due tick has been reached, timed until then
    Settled = 3,   // the task has already called settle during the run
  };

  std::int32_t disposition = Done;
  TaskDispatcher* dispatcher = nullptr;
};

// A unit of work. The link ties the task into exactly one dispatcher list
// at a time (the ready list or a list of the timer wheel); the dispatcher
// changes `state` under its lock.
class Task : public xtd::ivlink<Task, 0> {
 public:
  enum State : std::int32_t {
    Idle = 0,      // in no list; the only state in which the task may be destroyed
    Timed = 1,     // filed in the timer wheel
    Ready = 2,     // in the ready list
    Running = 3,   // a worker is inside run
    Reposted = 4,  // a worker is inside run and the task was posted again meanwhile
  };

  Task() noexcept : due(unsetTick()) {}
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  // Destroying a task that a dispatcher still holds ends the process.
  virtual ~Task();

  // `now` is the clock's current tick, read just before the call.
  virtual void run(TaskContext& context, Tick now) = 0;

  std::int32_t state = Idle;
  // When a RunAtDue task becomes ready; the task sets it before asking.
  Tick due;
};

using TaskList = xtd::ivlist<Task, 0>;

}  // namespace Ostra
