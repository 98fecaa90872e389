#pragma once

#include <cstdint>

#include "ostra/task.h"

namespace Ostra {

// A three-level hashed timing wheel that files Timed tasks by their due
// tick and hands every task whose tick has come to the `expired` list.
// Level 0 has one list per tick for the next 256 ticks, level 1 one list per
// block of 256 ticks, level 2 one list per block of 8192 ticks; tasks beyond
// the span of 262,144 ticks wait in level 2 and are filed again each time
// their list is cascaded. No lock of its own: the owning dispatcher's lock
// guards every call. Nothing is allocated.
class TimerWheel {
 public:
  static constexpr std::uint32_t kLevel0Lists = 256;
  static constexpr std::uint32_t kUpperLists = 32;

  TimerWheel() = default;
  TimerWheel(const TimerWheel&) = delete;
  TimerWheel& operator=(const TimerWheel&) = delete;

  // Files a task whose state the caller has set to Timed.
  void insert(Task* task) noexcept;
  // Unlinks a Timed task from whichever list of the wheel holds it.
  static void remove(Task* task) noexcept;
  // Processes every tick from now up to and including `tick`; afterwards
  // now is tick + 1. A tick before now does nothing.
  void advance(Tick tick) noexcept;

  // Tasks whose due tick has been reached, in the order they expired.
  TaskList& expired() noexcept { return expired_; }
  // The next tick the wheel will process.
  Tick now() const noexcept { return static_cast<Tick>(now_); }

  // Where a task is filed: level 0..2 with the list index, 3 for expired,
  // -1 when the wheel does not hold it. Linear; for diagnostics and tests.
  struct Place {
    int level;
    std::uint32_t index;
  };
  Place locate(const Task* task) const noexcept;

  // Takes every task out of the wheel (expired included) and hands each to
  // `visit`; used when the owner goes away with tasks still filed.
  template <class Visit>
  void drain(Visit visit) noexcept {
    auto empty = [&](TaskList& list) {
      while (Task* t = list.pop_front()) visit(t);
    };
    for (TaskList& l : level0_) empty(l);
    for (TaskList& l : level1_) empty(l);
    for (TaskList& l : level2_) empty(l);
    empty(expired_);
  }

 private:
  void cascade(TaskList* lists, std::uint32_t& cursor) noexcept;

  TaskList level0_[kLevel0Lists];
  TaskList level1_[kUpperLists];
  TaskList level2_[kUpperLists];
  std::uint32_t cursor0_ = 0;
  std::uint32_t cursor1_ = 0;
  std::uint32_t cursor2_ = 0;
  TaskList expired_;
  std::uint32_t now_ = 0;
};

}  // namespace Ostra
