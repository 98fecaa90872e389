// Out of memory as the workers start: the run ends with one message and
// exit status 1 before any archive is opened.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "app/app_main.h"
#include "app/progress.h"
#include "platform/threads.h"
#include "tests/support/alloc_faults.h"
#include "tests/support/avd_builder.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The allocation count when a run asks for its first thread.
std::atomic<long> g_countAtFirstThread{-1};
platform::ThreadId notingStarter(platform::ThreadRoutine routine, void* arg) {
  long unset = -1;
  g_countAtFirstThread.compare_exchange_strong(unset, avdtest::allocationCount());
  return platform::startNativeThread(routine, arg);
}

TEST(AppStartTest, NoMemoryToStartTheWorkersEndsTheRunBeforeAnyArchiveIsOpened) {
  avdtest::TempDir tmp;
  avdtest::AvdBuilder archive;
  archive.mjpegHeader(25, 8, 8).frame("jpeg", 1);
  const xtd::dwstring dir = avdtest::widePath(tmp.path());
  auto freshArchive = [&] {
    avdtest::writeFile(tmp / "a.avd", archive.bytes());
    fs::remove(tmp / "a.avi");
  };
  // Counts the allocations of a whole run up to its first thread start.
  auto allocationsBeforeFirstThread = [&] {
    freshArchive();
    g_countAtFirstThread = -1;
    platform::setThreadStarterForTesting(&notingStarter);
    testing::internal::CaptureStdout();
    const long before = avdtest::allocationCount();
    EXPECT_EQ(appMain(dir.view(), Options{}), 0);
    testing::internal::GetCapturedStdout();
    platform::setThreadStarterForTesting(nullptr);
    return g_countAtFirstThread.load() - before;
  };
  allocationsBeforeFirstThread();  // past what a process allocates only once
  // The start's own allocation comes last before its first thread.
  const long startAllocation = allocationsBeforeFirstThread();
  ASSERT_GT(startAllocation, 0);

  freshArchive();
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  avdtest::failAllocationAt(startAllocation);
  const int status = appMain(dir.view(), Options{});
  avdtest::disarmAllocationFailure();
  const std::string errors = testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(avdtest::allocationFailureFired());
  EXPECT_EQ(status, 1);
  EXPECT_EQ(errors, "avdconv: cannot start the workers: out of memory\n");
  EXPECT_EQ(progress().finished(), 0u) << "a conversion ran";
  EXPECT_EQ(avdtest::readFile(tmp / "a.avd"), archive.bytes());
  EXPECT_FALSE(fs::exists(tmp / "a.avi"));
}

}  // namespace
