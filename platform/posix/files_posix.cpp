#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/posix/errors.h"
#include "platform/posix/path_codec.h"
#include "platform/stdio_stream.h"

namespace platform {

namespace {

int fd(FileHandle f) { return static_cast<int>(f); }

FileStatus statusFrom(const struct stat& st) {
  FileStatus s;
  s.identity.volume = static_cast<std::uint64_t>(st.st_dev);
  s.identity.index = static_cast<std::uint64_t>(st.st_ino);
  s.kind = S_ISREG(st.st_mode) ? FileKind::Regular : S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::Other;
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

int openRetrying(const std::string& path, int flags, mode_t mode = 0) {
  int f;
  do f = ::open(path.c_str(), flags, mode);
  while (f < 0 && errno == EINTR);
  return f;
}

bool notRegular() {
  setLastFileError(SystemError{SystemError::Kind::NotRegular, 0, false});
  return false;
}

class PosixFiles final : public FileApi {
 public:
  FileHandle openForRead(const char16_t* path) override {
    const std::string p = posix::toNative(path);
    // A device may act on being opened (a tape rewinds): look before opening.
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return posix::fail(), kInvalidFile;
    if (!S_ISREG(st.st_mode)) return notRegular(), kInvalidFile;
    // Non-blocking, in case the name became a FIFO since the look.
    const int f = openRetrying(p, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (f < 0) return posix::fail(), kInvalidFile;
    const bool regular = ::fstat(f, &st) == 0 ? S_ISREG(st.st_mode) || notRegular() : posix::fail();
    if (!regular) {
      const SystemError error = lastFileError();
      ::close(f);
      setLastFileError(error);
      return kInvalidFile;
    }
    ::fcntl(f, F_SETFL, ::fcntl(f, F_GETFL) & ~O_NONBLOCK);
    return f;
  }

  bool read(FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < size) {
      const ssize_t n = ::read(fd(f), out + got, size - got);
      if (n < 0) {
        if (errno == EINTR) continue;
        return posix::fail();
      }
      if (n == 0) break;
      got += static_cast<std::uint32_t>(n);
    }
    return true;
  }

  bool seek(FileHandle f, std::uint64_t offset) override {
    if (::lseek(fd(f), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset)) return true;
    return posix::fail();
  }

  bool status(FileHandle f, FileStatus& out) override {
    struct stat st;
    if (::fstat(fd(f), &st) != 0) return posix::fail();
    out = statusFrom(st);
    return true;
  }

  bool pathStatus(const char16_t* path, FileStatus& out) override {
    struct stat st;
    if (::stat(posix::toNative(path).c_str(), &st) != 0) return posix::fail();
    out = statusFrom(st);
    return true;
  }

  LockResult tryLock(FileHandle f) override {
    int r;
    do r = ::flock(fd(f), LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r == 0) return LockResult::Locked;
    posix::fail();
    return lastFileError().kind == SystemError::Kind::Busy ? LockResult::Busy : LockResult::Failed;
  }

  bool nextData(FileHandle f, std::uint64_t offset, std::uint64_t& dataOffset) override {
    const off_t at = ::lseek(fd(f), static_cast<off_t>(offset), SEEK_DATA);
    if (at >= 0) {
      dataOffset = static_cast<std::uint64_t>(at);
      return true;
    }
    if (errno == ENXIO) {
      // Nothing but a hole up to the end.
      struct stat st;
      if (::fstat(fd(f), &st) != 0) return posix::fail();
      dataOffset = static_cast<std::uint64_t>(st.st_size) > offset ? static_cast<std::uint64_t>(st.st_size) : offset;
      return true;
    }
    if (errno == EINVAL || errno == EOPNOTSUPP) {
      // A file system that cannot tell: every byte may be data.
      dataOffset = offset;
      return true;
    }
    return posix::fail();
  }

  FileHandle createNew(const char16_t* path) override {
    const int f = openRetrying(posix::toNative(path), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return f < 0 ? (posix::fail(), kInvalidFile) : f;
  }

  bool write(FileHandle f, const void* data, std::uint32_t size) override {
    const auto* in = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd(f), in + done, size - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return posix::fail();
      }
      if (n == 0) return posix::fail(ENOSPC);
      done += static_cast<std::uint32_t>(n);
    }
    return true;
  }

  bool flushToDisk(FileHandle f) override { return ::fsync(fd(f)) == 0 || posix::fail(); }

  bool close(FileHandle f) override {
    // After EINTR the descriptor is gone on Linux; retrying could close another.
    return ::close(fd(f)) == 0 || posix::fail();
  }

  bool rename(const char16_t* from, const char16_t* to) override {
    return ::rename(posix::toNative(from).c_str(), posix::toNative(to).c_str()) == 0 || posix::fail();
  }

  bool remove(const char16_t* path) override { return ::unlink(posix::toNative(path).c_str()) == 0 || posix::fail(); }

  RemoveResult removeIfUnchanged(const char16_t* path, FileHandle f, const FileStatus& expected) override {
    // A read lease is refused while any process has the file open for
    // writing: a recorder still at work. Held across the removal, it makes a
    // writer that opens the file meanwhile wait until the name is gone.
    // Where leases are not available (another owner, a network file system)
    // the status comparison has to do.
    int leased;
    do leased = ::fcntl(fd(f), F_SETLEASE, F_RDLCK);
    while (leased != 0 && errno == EINTR);
    if (leased != 0 && (errno == EAGAIN || errno == EBUSY)) {
      posix::fail();
      ::close(fd(f));
      return RemoveResult::InUse;
    }
    const std::string p = posix::toNative(path);
    struct stat st;
    RemoveResult result = RemoveResult::Removed;
    if (::stat(p.c_str(), &st) != 0) {
      result = errno == ENOENT ? RemoveResult::Changed : RemoveResult::Failed;
      posix::fail();
    } else {
      result = removalVerdict(statusFrom(st), expected);
      if (result == RemoveResult::Removed && ::unlink(p.c_str()) != 0) {
        result = RemoveResult::Failed;
        posix::fail();
      }
    }
    const SystemError error = lastFileError();
    if (leased == 0) ::fcntl(fd(f), F_SETLEASE, F_UNLCK);
    ::close(fd(f));
    setLastFileError(error);
    return result;
  }

  bool syncParentDirectory(const char16_t* path) override {
    std::string dir = posix::toNative(path);
    const std::size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash == 0 ? 1 : slash);
    const int d = openRetrying(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d < 0) return posix::fail();
    const bool synced = ::fsync(d) == 0 || posix::fail();
    ::close(d);
    return synced;
  }

  Stream* streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) override {
    const FileHandle f = createNew(path);
    if (f == kInvalidFile) return nullptr;
    std::FILE* file = ::fdopen(fd(f), "w+b");
    if (!file) {
      posix::fail();
      ::close(fd(f));
      return nullptr;
    }
    Stream* s = stdio::adopt(file, buffer, bufferSize);
    if (!s) posix::fail(ENOMEM);
    return s;
  }

  std::size_t streamWrite(Stream* s, const void* data, std::size_t size) override {
    const std::size_t n = stdio::write(s, data, size);
    if (n != size) posix::fail();
    return n;
  }

  std::size_t streamRead(Stream* s, void* buffer, std::size_t size) override {
    const std::size_t n = stdio::read(s, buffer, size);
    if (n != size) posix::fail(std::ferror(s->file) ? errno : EIO);
    return n;
  }

  bool streamSeek(Stream* s, std::uint64_t offset) override {
    return ::fseeko(s->file, static_cast<off_t>(offset), SEEK_SET) == 0 || posix::fail();
  }

  bool streamFlushToDisk(Stream* s) override {
    return (stdio::drain(s) && ::fsync(::fileno(s->file)) == 0) || posix::fail();
  }

  bool streamClose(Stream* s) override { return stdio::close(s) || posix::fail(); }

  void adviseSequential(FileHandle f) override { ::posix_fadvise(fd(f), 0, 0, POSIX_FADV_SEQUENTIAL); }

  void adviseDone(FileHandle f, std::uint64_t offset, std::uint64_t length) override {
    ::posix_fadvise(fd(f), static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_DONTNEED);
  }

  void startWriteBack(FileHandle f, std::uint64_t offset, std::uint64_t length) override {
    ::sync_file_range(fd(f), static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
  }

  void flushFileSystemOf(FileHandle f) override { ::syncfs(fd(f)); }

  void streamStartWriteBack(Stream* s, std::uint64_t offset, std::uint64_t length) override {
    if (stdio::drain(s)) startWriteBack(::fileno(s->file), offset, length);
  }
};

}  // namespace

FileApi& nativeFiles() {
  static PosixFiles api;
  return api;
}

}  // namespace platform
