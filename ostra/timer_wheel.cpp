#include "ostra/timer_wheel.h"

namespace Ostra {

void TimerWheel::insert(Task* task) noexcept {
  const std::uint32_t due = static_cast<std::uint32_t>(task->due);
  const std::uint32_t d = due - now_;
  if (d < kLevel0Lists)
    level0_[due % kLevel0Lists].push_back(task);
  else if (d < kLevel0Lists * kUpperLists)
    level1_[(due >> 8) % kUpperLists].push_back(task);
  else if (static_cast<std::int32_t>(d) < 0)
    expired_.push_back(task);  // due before now
  else
    level2_[(due >> 13) % kUpperLists].push_back(task);
}

void TimerWheel::remove(Task* task) noexcept { TaskList::unlink(task); }

void TimerWheel::cascade(TaskList* lists, std::uint32_t& cursor) noexcept {
  TaskList pending;
  pending.splice_back(lists[cursor]);
  while (Task* t = pending.pop_front()) insert(t);
  cursor = (cursor + 1) % kUpperLists;
}

void TimerWheel::advance(Tick tick) noexcept {
  while (tickDiff(static_cast<std::uint32_t>(tick), now_) >= 0) {
    if (cursor0_ == 0) {
      cascade(level1_, cursor1_);
      // Level-1 list 0 starts a new block of 8192 ticks.
      if (cursor1_ == 1) cascade(level2_, cursor2_);
    }
    expired_.splice_back(level0_[cursor0_]);
    ++now_;
    cursor0_ = (cursor0_ + 1) % kLevel0Lists;
  }
}

TimerWheel::Place TimerWheel::locate(const Task* task) const noexcept {
  for (std::uint32_t i = 0; i < kLevel0Lists; ++i)
    if (level0_[i].contains(task)) return {0, i};
  for (std::uint32_t i = 0; i < kUpperLists; ++i)
    if (level1_[i].contains(task)) return {1, i};
  for (std::uint32_t i = 0; i < kUpperLists; ++i)
    if (level2_[i].contains(task)) return {2, i};
  if (expired_.contains(task)) return {3, 0};
  return {-1, 0};
}

}  // namespace Ostra
