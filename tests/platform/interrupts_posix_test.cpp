// The signals themselves, sent by the system: POSIX only (on Windows the
// console's events cannot be sent to one process alone).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "platform/interrupts.h"
#include "tests/support/eventually.h"

namespace {

using platform::kHangupSignal;
using platform::kInterruptSignal;
using platform::kTerminateSignal;

// In the child of a death test: sends the signal through the system and
// waits until the program has seen a request.
void deliver(int signal) {
  if (!platform::deliverInterruptForTesting(signal)) std::_Exit(90);
  avdtest::eventually([] { return platform::interruptSignal() != 0; });
}

class InterruptSignalsTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(InterruptSignalsTest, EachWatchedSignalIsRecordedAndASecondInterruptOrTerminateEndsTheProcess) {
  const struct {
    int first;
    int second;
    int statusAfterSecond;  // the first signal's number when the second does not end the process
  } cases[] = {{kInterruptSignal, kInterruptSignal, 130},
               {kTerminateSignal, kInterruptSignal, 130},
               {kHangupSignal, kTerminateSignal, 143},
               {kInterruptSignal, kHangupSignal, kInterruptSignal}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
    EXPECT_EXIT(
        {
          platform::watchInterrupts();
          deliver(c.first);
          std::_Exit(platform::interruptSignal());
        },
        testing::ExitedWithCode(c.first), "");
    EXPECT_EXIT(
        {
          platform::watchInterrupts();
          deliver(c.first);
          if (!platform::deliverInterruptForTesting(c.second)) std::_Exit(90);
          // A process still alive once a signal sent to itself has arrived
          // carries on with the first request.
          std::_Exit(platform::interruptSignal());
        },
        testing::ExitedWithCode(c.statusAfterSecond), "");
  }
}

TEST_F(InterruptSignalsTest, ASignalIgnoredByWhoeverStartedTheProgramStaysIgnored) {
  const struct {
    int ignored;
    int marker;  // a signal that is watched, sent afterwards
  } cases[] = {{kHangupSignal, kTerminateSignal}, {kInterruptSignal, kTerminateSignal}, {kTerminateSignal, kInterruptSignal}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ignored);
    EXPECT_EXIT(
        {
          std::signal(c.ignored, SIG_IGN);
          platform::watchInterrupts();
          if (!platform::deliverInterruptForTesting(c.ignored)) std::_Exit(90);
          deliver(c.marker);
          std::_Exit(platform::interruptSignal());
        },
        testing::ExitedWithCode(c.marker), "");
  }
}

}  // namespace
