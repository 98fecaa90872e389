#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/alloc_faults.h"
#include "tests/support/eventually.h"

namespace {

using namespace std::chrono_literals;

using avdtest::eventually;

TEST(SyncTest, MutexExcludesConcurrentIncrements) {
  platform::Mutex mutex;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        mutex.lock();
        ++counter;
        mutex.unlock();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
}

TEST(SyncTest, SemaphoreLetsThroughExactlyAsManyAsReleased) {
  platform::Semaphore sem;
  std::atomic<int> passed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      sem.wait();
      ++passed;
    });
  sem.release(3);
  ASSERT_TRUE(eventually([&] { return passed.load() == 3; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(passed.load(), 3);
  sem.release(1);
  for (auto& t : threads) t.join();
  EXPECT_EQ(passed.load(), 4);
}

TEST(SyncTest, SemaphoreKeepsReleasesMadeBeforeTheWait) {
  platform::Semaphore sem;
  sem.release(2);
  sem.wait();
  sem.wait();
  std::atomic<bool> third{false};
  std::thread t([&] {
    sem.wait();
    third = true;
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(third.load());
  sem.release(1);
  t.join();
  EXPECT_TRUE(third.load());
}

TEST(SyncTest, AutoResetEventLetsOneWaitThroughPerSetAndDoesNotCount) {
  platform::AutoResetEvent event;
  event.set();
  event.set();  // still one signal: the event is not a counter
  event.wait();
  std::atomic<int> passed{0};
  std::thread t([&] {
    event.wait();
    ++passed;
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(passed.load(), 0);
  event.set();
  t.join();
  EXPECT_EQ(passed.load(), 1);
}

TEST(SyncTest, WakePortKeepsPacketsPostedWhileNobodyWaits) {
  platform::WakePort port;
  port.post(0);
  port.post(7);
  EXPECT_EQ(port.wait(), 0u);
  EXPECT_EQ(port.wait(), 7u);
}

TEST(SyncTest, WakePortQueuesRunsOfKeysInOrderWithoutAllocating) {
  // The dispatcher posts with its lock held: a post must not need the heap.
  const std::vector<std::pair<std::uintptr_t, int>> runs = {{0, 5000}, {7, 1}, {0, 2}, {5, 3}, {7, 1}};
  platform::WakePort port;
  avdtest::failAllocationAt(1);
  for (const auto& [key, count] : runs)
    for (int i = 0; i < count; ++i) port.post(key);
  avdtest::disarmAllocationFailure();
  EXPECT_FALSE(avdtest::allocationFailureFired());
  for (const auto& [key, count] : runs)
    for (int i = 0; i < count; ++i) ASSERT_EQ(port.wait(), key) << "packet " << i << " of the run of " << key;
}

TEST(SyncTest, WakePortPacketWakesExactlyOneWaiter) {
  platform::WakePort port;
  std::atomic<int> woken{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&] {
      if (port.wait() == 0) ++woken;
    });
  std::this_thread::sleep_for(20ms);
  port.post(0);
  ASSERT_TRUE(eventually([&] { return woken.load() == 1; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(woken.load(), 1);
  port.post(0);
  port.post(0);
  for (auto& t : threads) t.join();
  EXPECT_EQ(woken.load(), 3);
}

}  // namespace
