// The console's end on Windows, where the system's thread must be held
// until the program has cleaned up. The events come through the seam: the
// system sends a console's events to every process attached to it, the
// test runner included.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/interrupts.h"
#include "tests/support/eventually.h"

namespace {

using platform::kHangupSignal;

TEST(InterruptEventsTest, AClosedConsoleHoldsTheSystemsThreadUntilTheProgramHasHandledIt) {
  platform::resetInterruptsForTesting();
  std::atomic<bool> returned{false};
  std::thread systemThread([&] {
    platform::raiseInterruptForTesting(kHangupSignal);
    returned = true;
  });
  ASSERT_TRUE(avdtest::eventually([] { return platform::interruptSignal() == kHangupSignal; }));
  EXPECT_FALSE(returned.load());
  platform::interruptHandled();
  systemThread.join();
  EXPECT_TRUE(returned.load());
  platform::resetInterruptsForTesting();
}

TEST(InterruptEventsTest, AProgramThatNeverSaysItIsDoneStillLetsTheSystemsThreadGo) {
  platform::resetInterruptsForTesting();
  // Returns after the clean-up budget, short of the system's own limit.
  platform::raiseInterruptForTesting(kHangupSignal);
  EXPECT_EQ(platform::interruptSignal(), kHangupSignal);
  platform::resetInterruptsForTesting();
}

}  // namespace
