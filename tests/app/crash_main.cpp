// avdconv with a crash switch for tests: with AVD_CRASH_AT=N in the
// environment the process ends abruptly (no flush, no destructors) at its
// N-th file operation, as if it were killed there. With AVD_CRASH_AT=0 it
// runs normally and reports on standard error how many operations it made,
// so that a test can sweep every crash point.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "platform/files.h"

namespace {

class CrashingFiles final : public platform::FileApi {
 public:
  explicit CrashingFiles(long crashAt) : crashAt_(crashAt) {}
  long operations() const { return count_.load(); }

  platform::FileHandle openForRead(const char16_t* p) override { return tick(), inner().openForRead(p); }
  platform::FileHandle createForWrite(const char16_t* p) override { return tick(), inner().createForWrite(p); }
  bool read(platform::FileHandle f, void* b, std::uint32_t n, std::uint32_t& got) override {
    return tick(), inner().read(f, b, n, got);
  }
  bool write(platform::FileHandle f, const void* d, std::uint32_t n) override { return tick(), inner().write(f, d, n); }
  bool seek(platform::FileHandle f, std::uint64_t o) override { return tick(), inner().seek(f, o); }
  bool size(platform::FileHandle f, std::uint64_t& b) override { return tick(), inner().size(f, b); }
  bool flushToDisk(platform::FileHandle f) override { return tick(), inner().flushToDisk(f); }
  bool close(platform::FileHandle f) override { return tick(), inner().close(f); }
  bool remove(const char16_t* p) override { return tick(), inner().remove(p); }
  bool syncParentDirectory(const char16_t* p) override { return tick(), inner().syncParentDirectory(p); }
  platform::Stream* streamOpen(const char16_t* p, char* b, std::size_t n) override {
    return tick(), inner().streamOpen(p, b, n);
  }
  std::size_t streamWrite(platform::Stream* s, const void* d, std::size_t n) override {
    return tick(), inner().streamWrite(s, d, n);
  }
  std::size_t streamRead(platform::Stream* s, void* b, std::size_t n) override {
    return tick(), inner().streamRead(s, b, n);
  }
  bool streamSeek(platform::Stream* s, std::uint64_t o) override { return tick(), inner().streamSeek(s, o); }
  bool streamFlushToDisk(platform::Stream* s) override { return tick(), inner().streamFlushToDisk(s); }
  bool streamClose(platform::Stream* s) override { return tick(), inner().streamClose(s); }

 private:
  static platform::FileApi& inner() { return platform::nativeFiles(); }
  void tick() {
    if (++count_ == crashAt_) std::_Exit(137);
  }

  long crashAt_;
  std::atomic<long> count_{0};
};

}  // namespace

int main(int argc, char** argv) {
  const char* at = std::getenv("AVD_CRASH_AT");
  CrashingFiles files(at ? std::atol(at) : 0);
  platform::setFilesForTesting(&files);
  const int status = runFromCommandLine(argc, argv);
  std::fprintf(stderr, "file operations: %ld\n", files.operations());
  return status;
}
