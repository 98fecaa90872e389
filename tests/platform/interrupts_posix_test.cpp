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

// A signal the program was started with ignored (nohup) stays ignored; the
// others are recorded, and a second interrupt or terminate ends the process.
TEST(InterruptSignalsTest, WatchedSignalsAreRecordedUnlessIgnoredFromTheStart) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    int ignored;  // 0: none
    int first;
    int second;  // 0: none
    int exit;
  } cases[] = {{0, kInterruptSignal, kTerminateSignal, 143}, {0, kHangupSignal, kInterruptSignal, 130},
               {0, kInterruptSignal, kHangupSignal, kInterruptSignal}, {kHangupSignal, kTerminateSignal, 0, kTerminateSignal},
               {kInterruptSignal, kTerminateSignal, 0, kTerminateSignal},
               {kTerminateSignal, kInterruptSignal, 0, kInterruptSignal}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ignored << ": " << c.first << " then " << c.second);
    EXPECT_EXIT(
        {
          if (c.ignored != 0) std::signal(c.ignored, SIG_IGN);
          platform::watchInterrupts();
          if (c.ignored != 0 && !platform::deliverInterruptForTesting(c.ignored)) std::_Exit(90);
          deliver(c.first);
          // A process still alive once a signal sent to itself has arrived
          // carries on with the first request.
          if (c.second != 0 && !platform::deliverInterruptForTesting(c.second)) std::_Exit(90);
          std::_Exit(platform::interruptSignal());
        },
        testing::ExitedWithCode(c.exit), "");
  }
}

}  // namespace
