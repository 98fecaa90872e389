#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/posix/path_codec.h"
#include "platform/stdio_stream.h"

namespace platform {

namespace {

class PosixFiles final : public FileApi {
 public:
  FileHandle openForRead(const char16_t* path) override {
    const std::string p = posix::toNative(path);
    int fd;
    do fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd < 0 ? kInvalidFile : fd;
  }

  FileHandle createForWrite(const char16_t* path) override {
    const std::string p = posix::toNative(path);
    int fd;
    do fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd < 0 ? kInvalidFile : fd;
  }

  bool read(FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < size) {
      const ssize_t n = ::read(static_cast<int>(f), out + got, size - got);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (n == 0) break;
      got += static_cast<std::uint32_t>(n);
    }
    return true;
  }

  bool write(FileHandle f, const void* data, std::uint32_t size) override {
    const auto* in = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(static_cast<int>(f), in + done, size - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (n == 0) return false;
      done += static_cast<std::uint32_t>(n);
    }
    return true;
  }

  bool seek(FileHandle f, std::uint64_t offset) override {
    return ::lseek(static_cast<int>(f), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
  }

  bool size(FileHandle f, std::uint64_t& bytes) override {
    struct stat st;
    if (::fstat(static_cast<int>(f), &st) != 0) return false;
    bytes = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  bool flushToDisk(FileHandle f) override { return ::fsync(static_cast<int>(f)) == 0; }

  bool close(FileHandle f) override {
    // After EINTR the descriptor is gone on Linux; retrying could close another.
    return ::close(static_cast<int>(f)) == 0;
  }

  bool remove(const char16_t* path) override { return ::unlink(posix::toNative(path).c_str()) == 0; }

  bool syncParentDirectory(const char16_t* path) override {
    std::string dir = posix::toNative(path);
    const std::size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash == 0 ? 1 : slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
  }

  Stream* streamOpen(const char16_t* path, char* buffer, std::size_t bufferSize) override {
    return stdio::adopt(std::fopen(posix::toNative(path).c_str(), "wb+"), buffer, bufferSize);
  }

  std::size_t streamWrite(Stream* s, const void* data, std::size_t size) override {
    return stdio::write(s, data, size);
  }

  std::size_t streamRead(Stream* s, void* buffer, std::size_t size) override {
    return stdio::read(s, buffer, size);
  }

  bool streamSeek(Stream* s, std::uint64_t offset) override {
    return ::fseeko(s->file, static_cast<off_t>(offset), SEEK_SET) == 0;
  }

  bool streamFlushToDisk(Stream* s) override {
    return stdio::drain(s) && ::fsync(::fileno(s->file)) == 0;
  }

  bool streamClose(Stream* s) override { return stdio::close(s); }
};

}  // namespace

FileApi& nativeFiles() {
  static PosixFiles api;
  return api;
}

}  // namespace platform
