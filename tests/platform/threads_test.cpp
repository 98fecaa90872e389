#include "platform/threads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

struct Probe {
  std::atomic<platform::ThreadId> seenId{0};
  std::atomic<bool> finished{false};
  std::atomic<bool> release{false};
  void* slotValue = reinterpret_cast<void*>(1);
};

void slowRoutine(void* arg) {
  auto* p = static_cast<Probe*>(arg);
  p->seenId = platform::currentThreadId();
  while (!p->release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  p->finished = true;
}

TEST(ThreadsTest, StartedThreadRunsTheRoutineAndWaitReturnsAfterItsEnd) {
  Probe probe;
  const platform::ThreadId id = platform::startThread(&slowRoutine, &probe);
  ASSERT_NE(id, 0u);
  EXPECT_NE(id, platform::currentThreadId());
  probe.release = true;
  platform::waitForThread(id);
  EXPECT_TRUE(probe.finished.load());
  // The id the thread sees for itself is the one the starter got.
  EXPECT_EQ(probe.seenId.load(), id);
}

TEST(ThreadsTest, WaitReturnsAtOnceForNoThreadItselfAndUnknownIds) {
  platform::waitForThread(0);
  platform::waitForThread(platform::currentThreadId());
  Probe probe;
  const platform::ThreadId id = platform::startThread(&slowRoutine, &probe);
  ASSERT_NE(id, 0u);
  probe.release = true;
  platform::waitForThread(id);
  // A second wait for the same id finds nothing left to wait for.
  platform::waitForThread(id);
  EXPECT_TRUE(probe.finished.load());
}

TEST(ThreadsTest, CurrentThreadIdIsStableAndDiffersBetweenThreads) {
  const platform::ThreadId mine = platform::currentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(platform::currentThreadId(), mine);
  platform::ThreadId other = 0;
  std::thread t([&] { other = platform::currentThreadId(); });
  t.join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

platform::ThreadId failingStarter(platform::ThreadRoutine, void*) { return 0; }

std::atomic<int> g_delegated{0};
platform::ThreadId countingStarter(platform::ThreadRoutine routine, void* arg) {
  ++g_delegated;
  return platform::startNativeThread(routine, arg);
}

TEST(ThreadsTest, StarterSeamCanFailOrDelegateAndBeRestored) {
  g_delegated = 0;
  Probe probe;
  platform::setThreadStarterForTesting(&failingStarter);
  EXPECT_EQ(platform::startThread(&slowRoutine, &probe), 0u);
  platform::setThreadStarterForTesting(&countingStarter);
  probe.release = true;
  const platform::ThreadId id = platform::startThread(&slowRoutine, &probe);
  EXPECT_EQ(g_delegated.load(), 1);
  platform::setThreadStarterForTesting(nullptr);
  ASSERT_NE(id, 0u);
  platform::waitForThread(id);
  EXPECT_TRUE(probe.finished.load());
  EXPECT_EQ(probe.seenId.load(), id);
}

TEST(ThreadsTest, ThreadSlotHoldsOneValuePerThread) {
  const platform::ThreadSlot slot = platform::allocThreadSlot();
  int mine = 0;
  EXPECT_EQ(platform::threadSlotValue(slot), nullptr);
  platform::setThreadSlotValue(slot, &mine);
  void* seenElsewhere = &mine;
  int theirs = 0;
  void* theirsAfterSet = nullptr;
  std::thread t([&] {
    seenElsewhere = platform::threadSlotValue(slot);
    platform::setThreadSlotValue(slot, &theirs);
    theirsAfterSet = platform::threadSlotValue(slot);
  });
  t.join();
  EXPECT_EQ(seenElsewhere, nullptr);
  EXPECT_EQ(theirsAfterSet, &theirs);
  EXPECT_EQ(platform::threadSlotValue(slot), &mine);
}

TEST(ThreadsDeathTest, ARefusedThreadSlotEndsTheProcessWithOneLineNamingTheCallAndTheReason) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Whichever back end: its own call, and the system's text for no memory
  // (whose wording differs between Windows and Wine).
  const auto windowsLine = testing::Truly([](const std::string& err) {
    return err.rfind("avdconv: fatal: TlsAlloc: Not enough memory", 0) == 0 && err.find('\n') == err.size() - 1;
  });
  EXPECT_DEATH(
      {
        platform::refuseThreadSlotsForTesting(true);
        platform::allocThreadSlot();
      },
      testing::AnyOf(testing::Eq("avdconv: fatal: pthread_key_create: Cannot allocate memory\n"), windowsLine));
}

TEST(ThreadsTest, MillisecondTimerWaitsAboutOneMillisecondEachTime) {
  platform::MillisecondTimer timer;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) timer.wait();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // Ten waits of 1 ms: at least a few ms in all, never anything like a second.
  EXPECT_GE(elapsed, std::chrono::milliseconds(5));
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

}  // namespace
