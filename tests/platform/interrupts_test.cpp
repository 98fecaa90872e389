#include "platform/interrupts.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using platform::kHangupSignal;
using platform::kInterruptSignal;
using platform::kTerminateSignal;

// On Windows a hangup waits, as the system's thread does, until the program
// has handled it: said beforehand, the wait ends at once.
void request(int signal) {
  platform::interruptHandled();
  platform::raiseInterruptForTesting(signal);
}

// The first request is kept with its status; a second interrupt or
// terminate ends the process with its own, a hangup after any request does not.
TEST(InterruptsTest, TheFirstRequestIsKeptAndASecondInterruptOrTerminateEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr int kCarriesOn = 99;
  const struct {
    int first;
    int firstStatus;
    int second;
    int exit;  // of the process after the second
  } cases[] = {{kInterruptSignal, 130, kInterruptSignal, 130}, {kInterruptSignal, 130, kTerminateSignal, 143},
               {kTerminateSignal, 143, kTerminateSignal, 143}, {kHangupSignal, 129, kInterruptSignal, 130},
               {kHangupSignal, 129, kHangupSignal, kCarriesOn}, {kTerminateSignal, 143, kHangupSignal, kCarriesOn}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
    EXPECT_EXIT(
        {
          platform::resetInterruptsForTesting();
          if (platform::interruptSignal() != 0) std::_Exit(1);
          request(c.first);
          if (platform::interruptSignal() != c.first || platform::interruptExitStatus() != c.firstStatus) std::_Exit(2);
          request(c.second);
          std::_Exit(platform::interruptSignal() == c.first ? kCarriesOn : 3);
        },
        testing::ExitedWithCode(c.exit), "");
  }
}

}  // namespace
