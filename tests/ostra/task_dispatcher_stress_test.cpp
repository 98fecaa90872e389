#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "ostra/task_dispatcher.h"
#include "runtime_test_support.h"

namespace {

using Ostra::Task;
using Ostra::TaskContext;
using Ostra::TaskDispatcher;
using Ostra::Tick;

// What every task reports: its runs, and the finish that the last task
// turns into the one call of stop.
struct Ledger {
  explicit Ledger(std::size_t n) : runs(n), expected(n, 0) {}
  std::vector<std::atomic<int>> runs;
  std::vector<int> expected;
  std::atomic<int> finished{0};
  std::atomic<int> stops{0};
  int total = 0;

  int add(int expectedRuns) {
    expected[static_cast<std::size_t>(total)] = expectedRuns;
    return total++;
  }
};

enum class Kind { Once, Requeuer, Spawner, SelfPoster, SettleRequeue, Delayed };

class StressTask : public Task {
 public:
  StressTask(Ledger& ledger, Kind kind, int index, int firstChild = 0, int children = 0)
      : ledger_(ledger), kind_(kind), index_(index), firstChild_(firstChild), children_(children) {}

  void run(TaskContext& c, Tick) override {
    Ledger& ledger = ledger_;
    const int run = ++ledger.runs[static_cast<std::size_t>(index_)];
    switch (kind_) {
      case Kind::Once:
        break;
      case Kind::Requeuer:
        if (run <= kRequeues) {
          c.disposition = TaskContext::Requeue;
          return;
        }
        break;
      case Kind::Spawner:
        for (int i = 0; i < children_; ++i) c.dispatcher->post(new StressTask(ledger, Kind::Once, firstChild_ + i));
        break;
      case Kind::SelfPoster:
        if (run == 1) {
          c.dispatcher->post(this);
          return;
        }
        break;
      case Kind::SettleRequeue:
        if (run == 1) {
          c.disposition = TaskContext::Requeue;
          // From here on another worker may already be running this task.
          c.dispatcher->settle(c, this);
          return;
        }
        break;
      case Kind::Delayed:
        if (run == 1) {
          due = Ostra::currentTick() + 2;
          c.disposition = TaskContext::RunAtDue;
          return;
        }
        break;
    }
    if (++ledger.finished == ledger.total) {
      ++ledger.stops;
      c.dispatcher->stop();
    }
    c.dispatcher->settle(c, this);
    delete this;
  }

  static constexpr int kRequeues = 3;

 private:
  Ledger& ledger_;
  Kind kind_;
  int index_;
  int firstChild_;
  int children_;
};

TEST(TaskDispatcherStressTest, ThousandsOfTasksOnTwoWorkersEachRunAsOftenAsAsked) {
  ostra_test::Watchdog dog("dispatcher stress", std::chrono::seconds(300));
  constexpr int kRoots = 8000;
  constexpr int kChildren = 4;
  Ledger ledger(kRoots * (1 + kChildren));
  std::vector<StressTask*> roots;
  for (int i = 0; i < kRoots; ++i) {
    Kind kind = static_cast<Kind>(i % 5);
    if (i % 300 == 7) kind = Kind::Delayed;
    switch (kind) {
      case Kind::Once:
        roots.push_back(new StressTask(ledger, kind, ledger.add(1)));
        break;
      case Kind::Requeuer:
        roots.push_back(new StressTask(ledger, kind, ledger.add(StressTask::kRequeues + 1)));
        break;
      case Kind::Spawner: {
        const int self = ledger.add(1);
        const int first = ledger.total;
        for (int c = 0; c < kChildren; ++c) ledger.add(1);
        roots.push_back(new StressTask(ledger, kind, self, first, kChildren));
        break;
      }
      case Kind::SelfPoster:
      case Kind::SettleRequeue:
      case Kind::Delayed:
        roots.push_back(new StressTask(ledger, kind, ledger.add(2)));
        break;
    }
  }
  TaskDispatcher d;
  for (StressTask* t : roots) d.post(t);
  ASSERT_TRUE(d.start());
  d.wait();
  EXPECT_EQ(ledger.stops.load(), 1);
  EXPECT_EQ(ledger.finished.load(), ledger.total);
  EXPECT_EQ(d.readyCount(), 0u);
  int wrong = 0;
  for (int i = 0; i < ledger.total; ++i) {
    const int got = ledger.runs[static_cast<std::size_t>(i)].load();
    if (got != ledger.expected[static_cast<std::size_t>(i)] && ++wrong <= 10)
      ADD_FAILURE() << "task " << i << " ran " << got << " times, expected " << ledger.expected[static_cast<std::size_t>(i)];
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
