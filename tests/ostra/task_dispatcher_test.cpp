#include "ostra/task_dispatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "ostra/clock.h"
#include "runtime_test_support.h"
#include "tests/support/alloc_faults.h"

namespace {

using namespace std::chrono_literals;
using Ostra::Task;
using Ostra::TaskContext;
using Ostra::TaskDispatcher;
using Ostra::Tick;
using ostra_test::eventually;
using ostra_test::FnTask;
using ostra_test::Watchdog;

FnTask::Fn stopper() {
  return [](FnTask&, TaskContext& c, Tick) { c.dispatcher->stop(); };
}

FnTask::Fn nothing() {
  return [](FnTask&, TaskContext&, Tick) {};
}

bool label(const std::atomic<const char*>& l, const char* text) {
  const char* v = l.load();
  return v != nullptr && std::strcmp(v, text) == 0;
}

// Counts the threads started and lets a chosen start fail.
std::atomic<int> g_starts{0};
std::atomic<int> g_failStart{0};  // 1-based index of the start to refuse, 0 for none
platform::ThreadId countingStarter(platform::ThreadRoutine routine, void* arg) {
  const int n = ++g_starts;
  if (n == g_failStart.load()) return 0;
  return platform::startNativeThread(routine, arg);
}

class StarterSeam {
 public:
  explicit StarterSeam(int failStart = 0) {
    g_starts = 0;
    g_failStart = failStart;
    platform::setThreadStarterForTesting(&countingStarter);
  }
  ~StarterSeam() { platform::setThreadStarterForTesting(nullptr); }
};

// Two tasks that must run at the same time: each waits for the other.
struct Rendezvous {
  std::atomic<int> arrived{0};
  std::atomic<int> sawOther{0};
  void arrive() {
    ++arrived;
    if (eventually([&] { return arrived.load() >= 2; }, 5000ms)) ++sawOther;
  }
  bool met() const { return sawOther.load() == 2; }
};

TEST(TaskDispatcherTest, NothingStartedMeansNoThreadAndNoRun) {
  FnTask a(nothing()), b(nothing());
  {
    StarterSeam seam;
    {
      TaskDispatcher d;
      d.post(&a);
      d.post(&b);
      EXPECT_EQ(d.readyCount(), 2u);
      EXPECT_EQ(Ostra::waitingWorkers(), 0);
    }
    EXPECT_EQ(g_starts.load(), 0);
  }
  EXPECT_EQ(a.runs.load(), 0);
  EXPECT_FALSE(Ostra::clockCallbackRegistered());
  // The dispatcher let go of the tasks it still held.
  EXPECT_EQ(a.state, Task::Idle);
  EXPECT_FALSE(b.is_linked());
}

TEST(TaskDispatcherTest, PostingAReadyTaskAgainLeavesOneEntry) {
  Watchdog dog("post twice");
  TaskDispatcher d;
  FnTask t(nothing()), stop(stopper());
  d.post(&t);
  d.post(&t);
  EXPECT_EQ(d.readyCount(), 1u);
  EXPECT_EQ(t.state, Task::Ready);
  d.post(&stop);
  d.wait();
  EXPECT_EQ(t.runs.load(), 1);
  EXPECT_EQ(t.state, Task::Idle);
}

TEST(TaskDispatcherTest, PostingARunningTaskRunsItExactlyOnceMoreWhateverItsDisposition) {
  enum Mode { LeaveDone, AskRequeue, AskRunAtDueLater, SettleDone };
  for (Mode mode : {LeaveDone, AskRequeue, AskRunAtDueLater, SettleDone}) {
    Watchdog dog("post while running");
    TaskDispatcher d;
    std::uint32_t readyDuringRun = 99;
    FnTask t([&](FnTask& self, TaskContext& c, Tick now) {
      if (self.runs == 2) {
        c.dispatcher->stop();
        return;
      }
      c.dispatcher->post(&self);
      readyDuringRun = c.dispatcher->readyCount();
      switch (mode) {
        case LeaveDone:
          break;
        case AskRequeue:
          c.disposition = TaskContext::Requeue;
          break;
        case AskRunAtDueLater:
          self.due = now + 100000;
          c.disposition = TaskContext::RunAtDue;
          break;
        case SettleDone:
          c.dispatcher->settle(c, &self);
          break;
      }
    });
    d.post(&t);
    d.wait();
    EXPECT_EQ(t.runs.load(), 2) << "mode " << mode;
    EXPECT_EQ(readyDuringRun, 0u) << "a running task posted again was queued at once, mode " << mode;
    EXPECT_EQ(t.state, Task::Idle);
  }
}

TEST(TaskDispatcherTest, PostingATimedTaskTakesItOutOfTheWheelAndMakesItReady) {
  Watchdog dog("post timed");
  TaskDispatcher d;
  FnTask a([](FnTask& self, TaskContext& c, Tick now) {
    if (self.runs == 1) {
      self.due = now + 100000;
      c.disposition = TaskContext::RunAtDue;
    } else {
      c.dispatcher->stop();
    }
  });
  int placeBefore = -2, placeAfter = -2;
  std::int32_t stateBefore = -1, stateAfter = -1;
  FnTask b([&](FnTask&, TaskContext& c, Tick) {
    placeBefore = c.dispatcher->wheelPlace(&a).level;
    stateBefore = a.state;
    c.dispatcher->post(&a);
    placeAfter = c.dispatcher->wheelPlace(&a).level;
    stateAfter = a.state;
  });
  d.post(&a);
  d.post(&b);
  d.wait();
  EXPECT_NE(placeBefore, -1);
  EXPECT_EQ(stateBefore, Task::Timed);
  EXPECT_EQ(placeAfter, -1);
  EXPECT_EQ(stateAfter, Task::Ready);
  EXPECT_EQ(a.runs.load(), 2);
}

TEST(TaskDispatcherTest, RunAtDueWithItsTickReachedBehavesAsRequeue) {
  // A single worker and no clock: a task filed in the wheel would never run
  // again, and the watchdog would end the test.
  Watchdog dog("run at due reached", 30s);
  TaskDispatcher d;
  std::int32_t dispositionAfterSettle = -1;
  std::uint32_t readyAfterSettle = 0;
  FnTask t([&](FnTask& self, TaskContext& c, Tick now) {
    switch (self.runs) {
      case 1:
        self.due = now;
        c.disposition = TaskContext::RunAtDue;
        break;
      case 2:
        self.due = now - 5;
        c.disposition = TaskContext::RunAtDue;
        break;
      case 3:
        self.due = now;
        c.disposition = TaskContext::RunAtDue;
        c.dispatcher->settle(c, &self);
        dispositionAfterSettle = c.disposition;
        readyAfterSettle = c.dispatcher->readyCount();
        break;
      default:
        c.dispatcher->stop();
    }
  });
  d.post(&t);
  d.wait();
  EXPECT_EQ(t.runs.load(), 4);
  EXPECT_EQ(dispositionAfterSettle, TaskContext::Settled);
  EXPECT_EQ(readyAfterSettle, 1u);
}

TEST(TaskDispatcherTest, RunAtDueInTheFutureRunsOnceTheClockHasPassedIt) {
  Watchdog dog("run at due later");
  TaskDispatcher d;
  std::atomic<int> remaining{2};
  Tick dueA = 0, nowA = 0, dueB = 0, nowB = 0;
  int placeAfterSettle = -2;
  auto finish = [&](TaskContext& c) {
    if (--remaining == 0) c.dispatcher->stop();
  };
  FnTask a([&](FnTask& self, TaskContext& c, Tick now) {
    if (self.runs == 1) {
      self.due = dueA = now + 3;
      c.disposition = TaskContext::RunAtDue;
    } else {
      nowA = now;
      finish(c);
    }
  });
  FnTask b([&](FnTask& self, TaskContext& c, Tick now) {
    if (self.runs == 1) {
      self.due = dueB = now + 30;
      c.disposition = TaskContext::RunAtDue;
      c.dispatcher->settle(c, &self);
      placeAfterSettle = c.dispatcher->wheelPlace(&self).level;
    } else {
      nowB = now;
      finish(c);
    }
  });
  d.post(&a);
  d.post(&b);
  ASSERT_TRUE(d.start());
  d.wait();
  EXPECT_EQ(a.runs.load(), 2);
  EXPECT_EQ(b.runs.load(), 2);
  EXPECT_GE(Ostra::tickDiff(nowA, dueA), 0);
  EXPECT_GE(Ostra::tickDiff(nowB, dueB), 0);
  EXPECT_GE(placeAfterSettle, 0) << "a settled RunAtDue task ahead of its tick was not filed in the wheel";
}

class SelfDeleting : public Task {
 public:
  SelfDeleting(std::atomic<int>& finished, int total) : finished_(finished), total_(total) {}
  void run(TaskContext& c, Tick) override {
    // As the application does: count, stop if last, settle, delete.
    if (++finished_ == total_) c.dispatcher->stop();
    c.dispatcher->settle(c, this);
    delete this;
  }

 private:
  std::atomic<int>& finished_;
  int total_;
};

TEST(TaskDispatcherTest, SettleThenDeleteLeavesTheWorkerAloneWithTheTask) {
  Watchdog dog("settle then delete");
  std::atomic<int> finished{0};
  constexpr int kTasks = 200;
  TaskDispatcher d;
  for (int i = 0; i < kTasks; ++i) d.post(new SelfDeleting(finished, kTasks));
  ASSERT_TRUE(d.start());
  d.wait();
  EXPECT_EQ(finished.load(), kTasks);
  EXPECT_EQ(d.readyCount(), 0u);
}

TEST(TaskDispatcherTest, TasksStillReadyAtStopAreAllRun) {
  Watchdog dog("drain at stop");
  for (bool twoWorkers : {false, true}) {
    TaskDispatcher d;
    FnTask stop(stopper());
    std::vector<std::unique_ptr<FnTask>> rest;
    d.post(&stop);
    for (int i = 0; i < 100; ++i) {
      rest.push_back(std::make_unique<FnTask>(nothing()));
      d.post(rest.back().get());
    }
    if (twoWorkers) {
      ASSERT_TRUE(d.start());
    }
    d.wait();
    for (auto& t : rest) EXPECT_EQ(t->runs.load(), 1) << (twoWorkers ? "two workers" : "one worker");
    EXPECT_EQ(d.readyCount(), 0u);
  }
}

TEST(TaskDispatcherTest, ASecondStopDoesNothingAndLaterPostsAreNeverRun) {
  Watchdog dog("second stop");
  FnTask late(nothing());
  {
    TaskDispatcher d;
    FnTask stop(stopper());
    d.post(&stop);
    ASSERT_TRUE(d.start());
    d.wait();
    EXPECT_EQ(d.groupState(), Ostra::ThrGroup::Stopping);
    d.stop();
    EXPECT_EQ(d.groupState(), Ostra::ThrGroup::Stopping);
    d.post(&late);
    EXPECT_EQ(d.readyCount(), 1u);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(late.runs.load(), 0);
  }
  EXPECT_EQ(late.runs.load(), 0);
  EXPECT_EQ(late.state, Task::Idle);
}

TEST(TaskDispatcherTest, AFailedWorkerStartLeavesTheCallerAsTheOnlyWorker) {
  Watchdog dog("failed worker start");
  StarterSeam seam(2);  // the clock thread starts first, the worker second
  TaskDispatcher d;
  std::vector<std::unique_ptr<FnTask>> tasks;
  std::vector<platform::ThreadId> ranOn(20, 0);
  for (int i = 0; i < 20; ++i) {
    tasks.push_back(std::make_unique<FnTask>([&, i](FnTask&, TaskContext& c, Tick) {
      ranOn[static_cast<std::size_t>(i)] = platform::currentThreadId();
      if (i == 19) c.dispatcher->stop();
    }));
    d.post(tasks.back().get());
  }
  ASSERT_TRUE(d.start());
  EXPECT_EQ(g_starts.load(), 2);
  d.wait();
  for (platform::ThreadId id : ranOn) EXPECT_EQ(id, platform::currentThreadId());
}

TEST(TaskDispatcherTest, AStartShortOfMemoryStartsNothingAndLeavesTheTasksToRelease) {
  Watchdog dog("start short of memory");
  StarterSeam seam;
  TaskDispatcher d;
  FnTask a(nothing()), b(nothing());
  d.post(&a);
  d.post(&b);
  avdtest::failAllocationAt(1);
  const bool started = d.start();
  avdtest::disarmAllocationFailure();
  EXPECT_TRUE(avdtest::allocationFailureFired());
  EXPECT_FALSE(started);
  EXPECT_EQ(g_starts.load(), 0) << "a thread was started before the memory was all there";
  EXPECT_FALSE(Ostra::clockCallbackRegistered());
  std::vector<Task*> released;
  d.releasePending([&](Task* t) { released.push_back(t); });
  EXPECT_EQ(released, (std::vector<Task*>{&a, &b}));
  EXPECT_EQ(d.readyCount(), 0u);
  EXPECT_EQ(a.runs.load() + b.runs.load(), 0);
  EXPECT_EQ(a.state, Task::Idle);
  EXPECT_FALSE(b.is_linked());
  // Nothing was left half done: with memory back, the dispatcher starts.
  FnTask stop(stopper());
  d.post(&stop);
  ASSERT_TRUE(d.start());
  d.wait();
  EXPECT_EQ(stop.runs.load(), 1);
}

TEST(TaskDispatcherTest, OnceStartedARunNeedsNoMemory) {
  Watchdog dog("run without memory");
  TaskDispatcher d;
  std::vector<std::unique_ptr<FnTask>> tasks;
  for (int i = 0; i < 50; ++i) tasks.push_back(std::make_unique<FnTask>(nothing()));
  FnTask stop(stopper());
  for (auto& t : tasks) d.post(t.get());
  d.post(&stop);
  ASSERT_TRUE(d.start());
  avdtest::failAllocationAt(1);
  d.wait();
  avdtest::disarmAllocationFailure();
  EXPECT_FALSE(avdtest::allocationFailureFired());
  for (auto& t : tasks) EXPECT_EQ(t->runs.load(), 1);
}

TEST(TaskDispatcherTest, BlockedWorkersShowTheirLabelsAndWakeUpsChainBetweenThem) {
  Watchdog dog("labels and chained wake-ups");
  // No clock thread: its tick would wake a worker too and hide a missing chain.
  StarterSeam seam(1);
  TaskDispatcher d;
  std::atomic<Ostra::ThrControl*> firstWorker{nullptr};
  FnTask first([&](FnTask&, TaskContext&, Tick) { firstWorker = Ostra::ThrControl::current(); });
  Rendezvous meeting;
  std::atomic<int> remaining{2};
  auto meet = [&](FnTask&, TaskContext& c, Tick) {
    meeting.arrive();
    if (--remaining == 0) c.dispatcher->stop();
  };
  FnTask x(meet), y(meet);
  bool labelsSeen = false;
  std::thread poster([&] {
    // Both workers idle on the port before anything is posted, so the
    // second one can only be woken by the first.
    labelsSeen = eventually([&] {
      Ostra::ThrControl* r = firstWorker.load();
      return Ostra::waitingWorkers() == 2 && r != nullptr && label(r->activity, "TaskDispatcher::wait") &&
             label(r->waitingOn, "IOCP TaskDispatcher");
    });
    d.post(&x);
    d.post(&y);
  });
  d.post(&first);
  ASSERT_TRUE(d.start());
  d.wait();
  poster.join();
  EXPECT_TRUE(labelsSeen);
  EXPECT_TRUE(meeting.met()) << "the second task did not run while the first was still running";
  EXPECT_EQ(Ostra::waitingWorkers(), 0);
}

TEST(TaskDispatcherTest, TwoTasksCallingStopAtOnceDoNotHang) {
  Watchdog dog("concurrent stops");
  for (int round = 0; round < 10; ++round) {
    TaskDispatcher d;
    Rendezvous meeting;
    auto both = [&](FnTask&, TaskContext& c, Tick) {
      meeting.arrive();
      c.dispatcher->stop();
    };
    FnTask x(both), y(both);
    d.post(&x);
    d.post(&y);
    ASSERT_TRUE(d.start());
    d.wait();
    EXPECT_EQ(x.runs.load(), 1);
    EXPECT_EQ(y.runs.load(), 1);
  }
}

TEST(TaskDispatcherTest, DestroyingAStartedDispatcherWithoutWaitDrainsAndJoinsItsWorker) {
  Watchdog dog("destroy without wait");
  std::vector<std::unique_ptr<FnTask>> tasks;
  for (int i = 0; i < 50; ++i) tasks.push_back(std::make_unique<FnTask>(nothing()));
  {
    TaskDispatcher d;
    for (auto& t : tasks) d.post(t.get());
    ASSERT_TRUE(d.start());
  }
  for (auto& t : tasks) EXPECT_EQ(t->runs.load(), 1);
  EXPECT_FALSE(Ostra::clockCallbackRegistered());
}

TEST(TaskDispatcherTest, DestroyedDispatcherLeavesTimedAndReadyTasksIdleAndUnlinked) {
  Watchdog dog("tasks left behind");
  FnTask timed([](FnTask&, TaskContext& c, Tick) { c.disposition = TaskContext::RunAtDue; });
  FnTask ready(nothing());
  {
    TaskDispatcher d;
    FnTask stop(stopper());
    timed.due = Ostra::currentTick() + 100000;
    d.post(&timed);
    d.post(&stop);
    d.wait();
    EXPECT_EQ(timed.state, Task::Timed);
    d.post(&ready);
    EXPECT_EQ(ready.state, Task::Ready);
  }
  EXPECT_EQ(timed.state, Task::Idle);
  EXPECT_FALSE(timed.is_linked());
  EXPECT_EQ(ready.state, Task::Idle);
  EXPECT_FALSE(ready.is_linked());
}

TEST(TaskDispatcherTest, StartRegistersTheClockAndMakesTheDispatcherCurrent) {
  Watchdog dog("start");
  TaskDispatcher d;
  bool clockDuringRun = false;
  FnTask t([&](FnTask&, TaskContext& c, Tick) {
    clockDuringRun = Ostra::clockCallbackRegistered();
    c.dispatcher->stop();
  });
  d.post(&t);
  ASSERT_TRUE(d.start());
  EXPECT_EQ(Ostra::currentDispatcher(), &d);
  d.wait();
  EXPECT_TRUE(clockDuringRun);
}

TEST(TaskDispatcherDeathTest, SettlingTwiceInOneRunAbortsWithOneLineSayingWhatBroke) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        TaskDispatcher d;
        FnTask t([](FnTask& self, TaskContext& c, Tick) {
          c.dispatcher->settle(c, &self);
          c.dispatcher->settle(c, &self);
        });
        d.post(&t);
        d.wait();
      },
      testing::Eq("avdconv: fatal: TaskDispatcher::settle: the task is not running\n"));
}

}  // namespace
