#include "ostra/cond.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ostra/lock.h"
#include "runtime_test_support.h"

namespace {

using namespace std::chrono_literals;
using ostra_test::eventually;

TEST(CondTest, BroadcastWithoutWaitersReturnsAtOnce) {
  Ostra::Lock lock("test");
  Ostra::Cond cond("test.cond");
  ostra_test::Watchdog dog("broadcast without waiters", 20s);
  Ostra::LockGuard guard(lock);
  cond.broadcast();
  cond.broadcast();
  EXPECT_EQ(cond.waiters(), 0);
  EXPECT_STREQ(cond.name(), "test.cond");
}

TEST(CondTest, BroadcastReleasesEveryWaiterAndWaitFreesTheLockMeanwhile) {
  Ostra::Lock lock("test");
  Ostra::Cond cond("test.cond");
  ostra_test::Watchdog dog("broadcast to three waiters", 30s);
  bool go = false;
  int woke = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&] {
      Ostra::LockGuard guard(lock);
      while (!go) cond.wait(lock);
      ++woke;
    });
  // All three block while the lock is free to take: wait released it.
  ASSERT_TRUE(eventually([&] { return cond.waiters() == 3; }));
  {
    Ostra::LockGuard guard(lock);
    go = true;
    cond.broadcast();
    // The broadcaster still holds the lock, and every released waiter has
    // already left the counting section.
    EXPECT_EQ(cond.waiters(), 0);
    EXPECT_EQ(woke, 0);
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(woke, 3);
}

TEST(CondTest, BroadcastLeavesNoPermitForLaterWaiters) {
  Ostra::Lock lock("test");
  Ostra::Cond cond("test.cond");
  ostra_test::Watchdog dog("late waiter", 30s);
  int round = 0;
  std::atomic<int> seenRound{0};
  std::thread first([&] {
    Ostra::LockGuard guard(lock);
    while (round < 1) cond.wait(lock);
  });
  ASSERT_TRUE(eventually([&] { return cond.waiters() == 1; }));
  {
    Ostra::LockGuard guard(lock);
    round = 1;
    cond.broadcast();
  }
  first.join();
  // A waiter that comes after the broadcast must block until the next one.
  std::thread late([&] {
    Ostra::LockGuard guard(lock);
    const int start = round;
    cond.wait(lock);
    seenRound = round > start ? round : -1;
  });
  ASSERT_TRUE(eventually([&] { return cond.waiters() == 1; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(seenRound.load(), 0);
  {
    Ostra::LockGuard guard(lock);
    round = 2;
    cond.broadcast();
  }
  late.join();
  EXPECT_EQ(seenRound.load(), 2);
}

}  // namespace
