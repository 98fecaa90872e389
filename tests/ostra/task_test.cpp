#include "ostra/task.h"

#include <gtest/gtest.h>

#include "ostra/task_dispatcher.h"
#include "runtime_test_support.h"

namespace {

struct Noop : Ostra::Task {
  void run(Ostra::TaskContext&, Ostra::Tick) override {}
};

TEST(TaskTest, NewTaskIsIdleUnlinkedAndItsDueCountsAsUnset) {
  Noop t;
  EXPECT_EQ(t.state, Ostra::Task::Idle);
  EXPECT_FALSE(t.is_linked());
  EXPECT_TRUE(Ostra::isUnset(t.due));
}

TEST(TaskTest, ContextStartsAsDoneWithNoDispatcher) {
  Ostra::TaskContext c;
  EXPECT_EQ(c.disposition, Ostra::TaskContext::Done);
  EXPECT_EQ(c.dispatcher, nullptr);
  EXPECT_EQ(Ostra::TaskContext::Done, 0);
  EXPECT_EQ(Ostra::TaskContext::Requeue, 1);
  EXPECT_EQ(Ostra::TaskContext::RunAtDue, 2);
  EXPECT_EQ(Ostra::TaskContext::Settled, 3);
}

TEST(TaskTest, ATaskTheDispatcherLetGoOfIsIdleUnlinkedAndMayBeDestroyed) {
  Ostra::TaskDispatcher d;
  auto* t = new Noop;
  d.post(t);
  EXPECT_EQ(t->state, Ostra::Task::Ready);
  int released = 0;
  d.releasePending([&](Ostra::Task* task) {
    EXPECT_EQ(task->state, Ostra::Task::Idle);
    EXPECT_FALSE(task->is_linked());
    ++released;
    delete task;  // aborts unless idle
  });
  EXPECT_EQ(released, 1);
}

TEST(TaskDeathTest, DestroyingATaskTheDispatcherHoldsAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Queued in a ready list.
  EXPECT_DEATH(
      {
        Ostra::TaskDispatcher d;
        auto* t = new Noop;
        d.post(t);
        delete t;
      },
      "");
  // Any state but Idle, whoever set it.
  EXPECT_DEATH(
      {
        auto* t = new Noop;
        t->state = Ostra::Task::Reposted;
        delete t;
      },
      "");
}

}  // namespace
