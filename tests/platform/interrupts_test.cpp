#include "platform/interrupts.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using platform::kHangupSignal;
using platform::kInterruptSignal;
using platform::kTerminateSignal;

class InterruptsTest : public testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    platform::resetInterruptsForTesting();
  }
  void TearDown() override { platform::resetInterruptsForTesting(); }
};

// On Windows a hangup waits, as the system's thread does, until the program
// has handled it: said beforehand, the wait ends at once.
void request(int signal) {
  platform::interruptHandled();
  platform::raiseInterruptForTesting(signal);
}

TEST_F(InterruptsTest, TheFirstRequestIsRecordedWithTheStatusOfItsSignal) {
  const struct {
    int signal;
    int status;
  } cases[] = {{kHangupSignal, 129}, {kInterruptSignal, 130}, {kTerminateSignal, 143}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal);
    platform::resetInterruptsForTesting();
    EXPECT_EQ(platform::interruptSignal(), 0);
    EXPECT_EQ(platform::interruptExitStatus(), 0);
    request(c.signal);
    EXPECT_EQ(platform::interruptSignal(), c.signal);
    EXPECT_EQ(platform::interruptExitStatus(), c.status);
  }
}

TEST_F(InterruptsTest, ASecondInterruptOrTerminateEndsTheProcessWithItsOwnStatus) {
  const struct {
    int first;
    int second;
    int status;
  } cases[] = {{kInterruptSignal, kInterruptSignal, 130},
               {kInterruptSignal, kTerminateSignal, 143},
               {kTerminateSignal, kTerminateSignal, 143},
               {kHangupSignal, kInterruptSignal, 130}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
    EXPECT_EXIT(
        {
          request(c.first);
          request(c.second);
          std::_Exit(0);
        },
        testing::ExitedWithCode(c.status), "");
  }
}

TEST_F(InterruptsTest, AHangupAfterTheFirstRequestKeepsThatRequestAndTheProcess) {
  for (const int first : {kHangupSignal, kInterruptSignal, kTerminateSignal}) {
    SCOPED_TRACE(first);
    platform::resetInterruptsForTesting();
    request(first);
    request(kHangupSignal);
    EXPECT_EQ(platform::interruptSignal(), first);
  }
}

}  // namespace
