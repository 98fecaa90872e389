// avdconv with a crash switch for tests: with AVD_CRASH_AT=N in the
// environment the process ends abruptly (no flush, no destructors) at its
// N-th file operation, as if it were killed there. With AVD_CRASH_AT=0 it
// runs normally and reports on standard error how many operations it made,
// so that a test can sweep every crash point. AVD_QUIET_SECONDS=N shortens
// the quiet period after which a run removes what a killed run left.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "commit/archive_removal.h"
#include "platform/files.h"
#include "platform/program.h"

namespace {

constexpr char kCrashing[] = "crash point reached\n";

class CrashingFiles final : public platform::FileApiWrapper {
 public:
  explicit CrashingFiles(long crashAt) : FileApiWrapper(platform::nativeFiles()), crashAt_(crashAt) {}
  long operations() const { return count_.load(); }

 protected:
  bool admit(platform::FileOp) override {
    if (++count_ != crashAt_) return true;
    // Told first: a test can then tell a process that hangs in its own end
    // (which Wine's may, now and then) from a run that never got here.
    std::fputs(kCrashing, stderr);
    platform::endProcessAtOnce(137);
  }

 private:
  long crashAt_;
  std::atomic<long> count_{0};
};

}  // namespace

int main(int argc, char** argv) {
  const char* at = std::getenv("AVD_CRASH_AT");
  if (const char* quiet = std::getenv("AVD_QUIET_SECONDS")) setQuietSecondsForTesting(std::atol(quiet));
  CrashingFiles files(at ? std::atol(at) : 0);
  platform::setFilesForTesting(&files);
  const int status = runFromCommandLine(argc, argv);
  std::fprintf(stderr, "file operations: %ld\n", files.operations());
  return status;
}
