#include "ostra/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "ostra/tick_time.h"
#include "runtime_test_support.h"

namespace {

using namespace std::chrono_literals;

// The clock reads this instead of the system time (microseconds since 1970).
std::atomic<std::int64_t> g_fakeMicros{0};
platform::WallTime fakeTime() {
  const std::int64_t us = g_fakeMicros.load();
  return platform::WallTime{static_cast<std::uint64_t>(us / 1000000), static_cast<std::uint32_t>(us % 1000000)};
}

std::uint32_t ticksOf(std::int64_t us) {
  return Ostra::toTicks(static_cast<std::uint64_t>(us / 1000000), static_cast<std::uint32_t>(us % 1000000));
}

std::atomic<int> g_calls{0};
std::atomic<void*> g_lastArg{nullptr};
void countCall(void* arg) {
  ++g_calls;
  g_lastArg = arg;
}

// Fake time, a registered counting callback and a starting point on a whole
// tick a little ahead of whatever the clock has reached; undone at the end.
class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const platform::WallTime real = platform::systemTime();
    std::int64_t us = static_cast<std::int64_t>(real.seconds) * 1000000 + real.microseconds;
    us -= us % 10000;
    const std::int32_t behind = Ostra::tickDiff(static_cast<std::uint32_t>(Ostra::currentTick()), ticksOf(us));
    if (behind >= 0) us += (static_cast<std::int64_t>(behind) + 2) * 10000;
    base_ = us;
    g_fakeMicros = base_;
    Ostra::setTimeSourceForTesting(&fakeTime);
    ASSERT_TRUE(Ostra::registerClockCallback(&countCall, this));
    Ostra::updateClock();
    ASSERT_EQ(static_cast<std::uint32_t>(Ostra::currentTick()), ticksOf(base_));
    g_calls = 0;
  }
  void TearDown() override {
    Ostra::clearClockCallback(this);
    Ostra::setTimeSourceForTesting(nullptr);
  }
  std::int64_t base_ = 0;
};

TEST_F(ClockTest, ReadingsWithinOneTickMoveNothingAndCallNothing) {
  const Ostra::Tick start = Ostra::currentTick();
  g_fakeMicros = base_ + 9000;
  Ostra::updateClock();
  g_fakeMicros = base_ + 9999;
  Ostra::updateClock();
  EXPECT_EQ(Ostra::currentTick(), start);
  EXPECT_EQ(g_calls.load(), 0);
}

TEST_F(ClockTest, APauseOfFiftyMillisecondsAdvancesFiveTicksWithOneCall) {
  const Ostra::Tick start = Ostra::currentTick();
  g_fakeMicros = base_ + 50000;
  Ostra::updateClock();
  EXPECT_EQ(Ostra::tickDiff(static_cast<std::uint32_t>(Ostra::currentTick()), static_cast<std::uint32_t>(start)), 5);
  EXPECT_EQ(g_calls.load(), 1);
  EXPECT_EQ(g_lastArg.load(), this);
  // The same reading again changes nothing.
  Ostra::updateClock();
  EXPECT_EQ(g_calls.load(), 1);
}

TEST_F(ClockTest, AClockSetBackIsAbsorbedUntilItHasCaughtUp) {
  const Ostra::Tick start = Ostra::currentTick();
  g_fakeMicros = base_ - 3600LL * 1000000;
  Ostra::updateClock();
  EXPECT_EQ(Ostra::currentTick(), start);
  g_fakeMicros = base_ - 10000;
  Ostra::updateClock();
  EXPECT_EQ(Ostra::currentTick(), start);
  g_fakeMicros = base_ + 5000;
  Ostra::updateClock();
  EXPECT_EQ(Ostra::currentTick(), start);
  EXPECT_EQ(g_calls.load(), 0);
  g_fakeMicros = base_ + 10000;
  Ostra::updateClock();
  EXPECT_EQ(Ostra::tickDiff(static_cast<std::uint32_t>(Ostra::currentTick()), static_cast<std::uint32_t>(start)), 1);
  EXPECT_EQ(g_calls.load(), 1);
}

TEST_F(ClockTest, OnlyOneCallbackIsRegisteredAndOnlyItsOwnerClearsIt) {
  int other = 0;
  EXPECT_FALSE(Ostra::registerClockCallback(&countCall, &other));
  EXPECT_FALSE(Ostra::clearClockCallback(&other));
  EXPECT_TRUE(Ostra::clockCallbackRegistered());
  EXPECT_TRUE(Ostra::clearClockCallback(this));
  EXPECT_FALSE(Ostra::clockCallbackRegistered());
  // Once cleared, an advancing update calls nothing.
  g_fakeMicros = base_ + 20000;
  Ostra::updateClock();
  EXPECT_EQ(g_calls.load(), 0);
}

TEST(ClockThreadTest, FollowsTheSystemTimeAndEndsOnceTheCallbackIsCleared) {
  ostra_test::Watchdog dog("clock thread", 60s);
  static std::atomic<int> calls{0};
  // Counted afresh in every repetition: calls left over would pass at once.
  calls = 0;
  int owner = 0;
  ASSERT_TRUE(Ostra::registerClockCallback([](void*) { ++calls; }, &owner));
  const platform::ThreadId id = Ostra::startClockThread();
  ASSERT_NE(id, 0u);
  // Ticks are 10 ms: a few calls come within a fraction of a second.
  EXPECT_TRUE(ostra_test::eventually([] { return calls.load() >= 3; }, 10000ms));
  EXPECT_TRUE(Ostra::clearClockCallback(&owner));
  platform::waitForThread(id);
  const int after = calls.load();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(calls.load(), after);
}

}  // namespace
