// avdconv with a crash switch for tests: with AVD_CRASH_AT=N in the
// environment the process ends abruptly (no flush, no destructors) at its
// N-th file operation, as if it were killed there. With AVD_CRASH_AT=0 it
// runs normally and reports on standard error how many operations it made,
// so that a test can sweep every crash point. With AVD_HOLD_AT_LOCK=PATH it
// stops before its first lock: it creates PATH and goes on once PATH has
// been removed, so that a test can act between the open of an archive and
// its lock. AVD_QUIET_SECONDS=N shortens the quiet period after which a
// run removes what a killed run left.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "archive/archive_removal.h"
#include "platform/files.h"

namespace {

class CrashingFiles final : public platform::FileApiWrapper {
 public:
  CrashingFiles(long crashAt, const char* holdAtLock)
      : FileApiWrapper(platform::nativeFiles()), crashAt_(crashAt), holdAtLock_(holdAtLock ? holdAtLock : "") {}
  long operations() const { return count_.load(); }

 protected:
  bool admit(platform::FileOp op) override {
    if (++count_ == crashAt_) std::_Exit(137);
    if (op == platform::FileOp::Lock && !holdAtLock_.empty() && !held_.exchange(true)) hold();
    return true;
  }

 private:
  void hold() {
    std::ofstream(holdAtLock_) << "holding\n";
    while (std::filesystem::exists(holdAtLock_)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  long crashAt_;
  std::filesystem::path holdAtLock_;
  std::atomic<long> count_{0};
  std::atomic<bool> held_{false};
};

}  // namespace

int main(int argc, char** argv) {
  const char* at = std::getenv("AVD_CRASH_AT");
  if (const char* quiet = std::getenv("AVD_QUIET_SECONDS")) setQuietSecondsForTesting(std::atol(quiet));
  CrashingFiles files(at ? std::atol(at) : 0, std::getenv("AVD_HOLD_AT_LOCK"));
  platform::setFilesForTesting(&files);
  const int status = runFromCommandLine(argc, argv);
  std::fprintf(stderr, "file operations: %ld\n", files.operations());
  return status;
}
