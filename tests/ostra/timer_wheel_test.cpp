#include "ostra/timer_wheel.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Ostra::Task;
using Ostra::TimerWheel;

struct Timed : Task {
  explicit Timed(Ostra::Tick d, int tag = 0) : id(tag) {
    due = d;
    state = Task::Timed;
  }
  ~Timed() override { state = Idle; }
  void run(Ostra::TaskContext&, Ostra::Tick) override {}
  int id;
};

::testing::AssertionResult At(TimerWheel& w, const Task& t, int level, std::uint32_t index) {
  const TimerWheel::Place p = w.locate(&t);
  if (p.level == level && (level == 3 || p.index == index)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "filed at level " << p.level << " list " << p.index << ", expected level "
                                       << level << " list " << index << " (wheel now " << w.now() << ")";
}

std::vector<int> expiredIds(TimerWheel& w) {
  std::vector<int> ids;
  for (Task* t = w.expired().front(); t; t = w.expired().next(t)) ids.push_back(static_cast<Timed*>(t)->id);
  return ids;
}

// Leaves the wheel empty so that tasks can be destroyed in any order.
void clear(TimerWheel& w) {
  w.drain([](Task*) {});
}

TEST(TimerWheelTest, NewWheelStartsAtTickZeroAndEmpty) {
  TimerWheel w;
  EXPECT_EQ(w.now(), 0);
  EXPECT_TRUE(w.expired().empty());
  w.advance(0);
  EXPECT_EQ(w.now(), 1);
  EXPECT_TRUE(w.expired().empty());
}

TEST(TimerWheelTest, TaskDueAtThreeHundredThousandTravelsDownTheLevels) {
  TimerWheel w;
  Timed t(300000);
  w.insert(&t);
  EXPECT_TRUE(At(w, t, 2, 4));
  w.advance(32767);
  EXPECT_TRUE(At(w, t, 2, 4));
  // List 4 of level 2 is cascaded at 32,768 and the task lands in it again.
  w.advance(32768);
  EXPECT_TRUE(At(w, t, 2, 4));
  w.advance(294911);
  EXPECT_TRUE(At(w, t, 2, 4));
  w.advance(294912);
  EXPECT_TRUE(At(w, t, 1, 19));
  w.advance(299775);
  EXPECT_TRUE(At(w, t, 1, 19));
  w.advance(299776);
  EXPECT_TRUE(At(w, t, 0, 224));
  w.advance(299999);
  EXPECT_TRUE(At(w, t, 0, 224));
  EXPECT_TRUE(w.expired().empty());
  w.advance(300000);
  EXPECT_TRUE(At(w, t, 3, 0));
  EXPECT_EQ(w.now(), 300001);
  clear(w);
}

TEST(TimerWheelTest, TaskBeyondTheSpanIsFiledAgainUntilItComesInRange) {
  TimerWheel w;
  const Ostra::Tick due = 262144 + 5000;
  Timed t(due);
  w.insert(&t);
  EXPECT_TRUE(At(w, t, 2, 0));
  w.advance(262143);
  EXPECT_TRUE(At(w, t, 2, 0));
  w.advance(262144);
  EXPECT_TRUE(At(w, t, 1, (due >> 8) % 32));
  w.advance(due - 1);
  EXPECT_TRUE(w.expired().empty());
  w.advance(due);
  EXPECT_TRUE(At(w, t, 3, 0));
  clear(w);
}

// Files tasks 255, 256, 8191 and 8192 ticks ahead of `start` and checks
// where they land and that each expires on its own tick.
void checkBoundaries(Ostra::Tick start) {
  TimerWheel w;
  if (start > 0) w.advance(start - 1);
  ASSERT_EQ(w.now(), start);
  const std::uint32_t s = static_cast<std::uint32_t>(start);
  Timed now(start, 0), a(start + 255, 255), b(start + 256, 256), c(start + 8191, 8191), d(start + 8192, 8192);
  for (Timed* t : {&now, &a, &b, &c, &d}) w.insert(t);
  EXPECT_TRUE(At(w, now, 0, s % 256));
  EXPECT_TRUE(At(w, a, 0, (s + 255) % 256));
  EXPECT_TRUE(At(w, b, 1, ((s + 256) >> 8) % 32));
  EXPECT_TRUE(At(w, c, 1, ((s + 8191) >> 8) % 32));
  EXPECT_TRUE(At(w, d, 2, ((s + 8192) >> 13) % 32));
  for (Timed* t : {&now, &a, &b, &c, &d}) {
    w.advance(t->due - 1);
    EXPECT_FALSE(w.expired().contains(t)) << "task " << t->id << " expired early, start " << start;
    w.advance(t->due);
    EXPECT_EQ(w.expired().back(), t) << "task " << t->id << " did not expire on its tick, start " << start;
  }
  EXPECT_EQ(expiredIds(w), (std::vector<int>{0, 255, 256, 8191, 8192}));
  clear(w);
}

TEST(TimerWheelTest, LevelBoundariesAt256And8192TicksAhead) {
  ASSERT_NO_FATAL_FAILURE(checkBoundaries(0));
  ASSERT_NO_FATAL_FAILURE(checkBoundaries(1000));
  ASSERT_NO_FATAL_FAILURE(checkBoundaries(8191));
  ASSERT_NO_FATAL_FAILURE(checkBoundaries(8192 * 3 + 17));
}

TEST(TimerWheelTest, TaskDueBeforeNowGoesStraightToExpired) {
  TimerWheel w;
  w.advance(99);
  Timed late(99, 1), veryLate(5, 2);
  w.insert(&late);
  w.insert(&veryLate);
  EXPECT_EQ(expiredIds(w), (std::vector<int>{1, 2}));
  clear(w);
}

TEST(TimerWheelTest, ExpiryOrderWithinAndAcrossLists) {
  TimerWheel w;
  // A goes to level 1 and reaches the level-0 list of tick 300 by cascade
  // at tick 256, behind B and C that were filed there directly before.
  Timed a(300, 1), b(300, 2), c(300, 3), early(299, 4), later(301, 5);
  w.insert(&a);
  EXPECT_TRUE(At(w, a, 1, 1));
  w.advance(200);
  w.insert(&b);
  w.insert(&c);
  w.insert(&later);
  w.insert(&early);
  EXPECT_TRUE(At(w, b, 0, 300 % 256));
  w.advance(256);
  EXPECT_TRUE(At(w, a, 0, 300 % 256));
  w.advance(301);
  EXPECT_EQ(expiredIds(w), (std::vector<int>{4, 2, 3, 1, 5}));
  clear(w);
}

TEST(TimerWheelTest, AdvanceToATickBeforeNowDoesNothing) {
  TimerWheel w;
  Timed t(20);
  w.insert(&t);
  w.advance(10);
  EXPECT_EQ(w.now(), 11);
  w.advance(5);
  w.advance(10);
  EXPECT_EQ(w.now(), 11);
  EXPECT_TRUE(At(w, t, 0, 20));
  EXPECT_TRUE(w.expired().empty());
  clear(w);
}

TEST(TimerWheelTest, RemoveTakesATaskOutOfWhicheverListHoldsIt) {
  TimerWheel w;
  Timed near(10, 1), mid(1000, 2), far(100000, 3), past(0, 4);
  w.advance(0);
  for (Timed* t : {&near, &mid, &far, &past}) w.insert(t);
  EXPECT_TRUE(At(w, past, 3, 0));
  for (Timed* t : {&near, &mid, &far, &past}) {
    TimerWheel::remove(t);
    EXPECT_FALSE(t->is_linked());
    EXPECT_TRUE(At(w, *t, -1, 0));
  }
  w.advance(200000);
  EXPECT_TRUE(w.expired().empty());
}

TEST(TimerWheelTest, DrainHandsOverEveryFiledTask) {
  TimerWheel w;
  Timed a(5), b(700), c(50000), d(0);
  w.advance(1);
  for (Timed* t : {&a, &b, &c, &d}) w.insert(t);
  int seen = 0;
  w.drain([&](Task* t) {
    ++seen;
    EXPECT_FALSE(t->is_linked());
  });
  EXPECT_EQ(seen, 4);
  EXPECT_TRUE(w.expired().empty());
}

}  // namespace
