#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/directory.h"
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
  s.accessed = static_cast<std::int64_t>(st.st_atim.tv_sec) * 1000000000 + st.st_atim.tv_nsec;
  s.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  s.permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
  s.owner = static_cast<std::uint32_t>(st.st_uid);
  s.group = static_cast<std::uint32_t>(st.st_gid);
  return s;
}

timespec timeFrom(std::int64_t ns) {
  timespec t;
  t.tv_sec = static_cast<time_t>(ns / 1000000000);
  t.tv_nsec = static_cast<long>(ns % 1000000000);
  if (t.tv_nsec < 0) {
    t.tv_nsec += 1000000000;
    --t.tv_sec;
  }
  return t;
}

// Whether every process that opens files here opens them through this
// kernel, so that a lease sees them all. A network file system's other
// clients and a FUSE file system's own back end (a pass-through view's
// underlying directory, a share's server) write without this kernel
// knowing; a lease is granted there while they write.
bool seesEveryOpener(int f) {
  struct statfs fs;
  if (::fstatfs(f, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x65735546UL:  // FUSE (sshfs, bindfs, ntfs-3g, virtiofs, ...)
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x01021997UL:  // 9p
    case 0x00C36400UL:  // Ceph
    case 0x5346414FUL:  // AFS
    case 0x6B414653UL:  // kAFS
    case 0x73757245UL:  // Coda
    case 0x564CUL:      // NCP
    case 0x01161970UL:  // GFS2
    case 0x7461636FUL:  // OCFS2
    case 0x0BD00BD0UL:  // Lustre
    case 0x20030528UL:  // OrangeFS
    case 0x786F4256UL:  // VirtualBox shared folders
    case 0x47504653UL:  // GPFS
      return false;
    default:
      return true;
  }
}

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  int f;
  do f = ::open(path, flags, mode);
  while (f < 0 && errno == EINTR);
  return f;
}

bool notRegular(const char* call) {
  setLastFileError(SystemError{SystemError::Kind::NotRegular, 0, false, call});
  return false;
}

bool kernelAtLeast(int major, int minor) {
  struct utsname name;
  int got[2] = {0, 0};
  if (::uname(&name) != 0 || std::sscanf(name.release, "%d.%d", &got[0], &got[1]) != 2) return false;
  return got[0] > major || (got[0] == major && got[1] >= minor);
}

// File systems whose sync writes every dirty file to their own disk and
// reports what failed: ext4, xfs, btrfs, f2fs.
bool syncedByTheDisk(int f) {
  struct statfs fs;
  if (::fstatfs(f, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53UL:
    case 0x58465342UL:
    case 0x9123683EUL:
    case 0xF2F52010UL:
      return true;
    default:
      return false;
  }
}

class PosixFiles final : public FileApi {
 public:
  FileHandle openForRead(const char16_t* path, FileStatus* opened) override {
    const posix::NativePath p(path);
    if (!p) return posix::fail("stat", p.error()), kInvalidFile;
    // A device may act on being opened (a tape rewinds): look before opening.
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return posix::fail("stat"), kInvalidFile;
    if (!S_ISREG(st.st_mode)) return notRegular("stat"), kInvalidFile;
    // Non-blocking, in case the name became a FIFO since the look.
    const int f = openRetrying(p.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (f < 0) return posix::fail("open"), kInvalidFile;
    const bool regular = ::fstat(f, &st) == 0 ? S_ISREG(st.st_mode) || notRegular("fstat") : posix::fail("fstat");
    if (!regular) {
      ::close(f);
      return kInvalidFile;
    }
    // O_NONBLOCK stays: it changes nothing for a regular file.
    if (opened) *opened = statusFrom(st);
    return f;
  }

  bool read(FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < size) {
      const ssize_t n = ::read(fd(f), out + got, size - got);
      if (n < 0) {
        if (errno == EINTR) continue;
        return posix::fail("read");
      }
      got += static_cast<std::uint32_t>(n);
      // A regular file reads short only at its end (or where a network file
      // system chooses to): the caller asks again if it needs more.
      if (n == 0 || got < size) break;
    }
    return true;
  }

  bool seek(FileHandle f, std::uint64_t offset) override {
    if (::lseek(fd(f), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset)) return true;
    return posix::fail("lseek");
  }

  bool status(FileHandle f, FileStatus& out) override {
    struct stat st;
    if (::fstat(fd(f), &st) != 0) return posix::fail("fstat");
    out = statusFrom(st);
    return true;
  }

  bool pathStatus(const char16_t* path, FileStatus& out) override {
    struct stat st;
    const posix::NativePath p(path);
    if (!p) return posix::fail("stat", p.error());
    if (::stat(p.c_str(), &st) != 0) return posix::fail("stat");
    out = statusFrom(st);
    return true;
  }

  LockResult tryLock(FileHandle f) override {
    int r;
    do r = ::flock(fd(f), LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r == 0) return LockResult::Locked;
    posix::fail("flock");
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
      if (::fstat(fd(f), &st) != 0) return posix::fail("fstat");
      dataOffset = static_cast<std::uint64_t>(st.st_size) > offset ? static_cast<std::uint64_t>(st.st_size) : offset;
      return true;
    }
    if (errno == EINVAL || errno == EOPNOTSUPP) {
      // A file system that cannot tell: every byte may be data.
      dataOffset = offset;
      return true;
    }
    return posix::fail("lseek");
  }

  FileHandle createNew(const char16_t* path) override {
    const posix::NativePath p(path);
    if (!p) return posix::fail("open", p.error()), kInvalidFile;
    const int f = openRetrying(p.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return f < 0 ? (posix::fail("open"), kInvalidFile) : f;
  }

  bool write(FileHandle f, const void* data, std::uint32_t size) override {
    const auto* in = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd(f), in + done, size - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return posix::fail("write");
      }
      if (n == 0) return posix::fail("write", ENOSPC);
      done += static_cast<std::uint32_t>(n);
    }
    return true;
  }

  bool flushToDisk(FileHandle f) override { return ::fsync(fd(f)) == 0 || posix::fail("fsync"); }

  bool close(FileHandle f) override {
    // After EINTR the descriptor is gone on Linux; retrying could close another.
    return ::close(fd(f)) == 0 || posix::fail("close");
  }

  bool rename(const char16_t* from, const char16_t* to) override {
    const posix::NativePath source(from);
    const posix::NativePath target(to);
    if (!source || !target) return posix::fail("rename", source ? target.error() : source.error());
    return ::rename(source.c_str(), target.c_str()) == 0 || posix::fail("rename");
  }

  bool remove(const char16_t* path) override {
    const posix::NativePath p(path);
    if (!p) return posix::fail("unlink", p.error());
    return ::unlink(p.c_str()) == 0 || posix::fail("unlink");
  }

  RemoveResult removeIfUnchanged(const char16_t* path, ScopedFile file, const RemovalPolicy& policy) override {
    // Closed here, after the removal, so that the lock lasts until then.
    const FileHandle f = file.release();
    RemovalFacts facts;
    // A read lease is refused while any process of this kernel has the file
    // open for writing: a recorder still at work. Held across the removal,
    // it makes a writer that opens the file meanwhile wait until the name
    // is gone. It is granted only to the file's owner (or with CAP_LEASE),
    // and it sees writers only where this kernel sees every opener.
    int leased;
    do leased = ::fcntl(fd(f), F_SETLEASE, F_RDLCK);
    while (leased != 0 && errno == EINTR);
    facts.writerSeen = leased != 0 && (errno == EAGAIN || errno == EBUSY);
    const bool local = seesEveryOpener(fd(f));
    facts.writersVisible = leased == 0 && local;

    const posix::NativePath p(path);
    RemoveResult result = RemoveResult::Failed;
    struct stat st;
    if (!p) {
      posix::fail("stat", p.error());
    } else if (local) {
      // This kernel's own file system: what a name's status says is current.
      if (::stat(p.c_str(), &st) == 0) {
        facts.now = statusFrom(st);
        facts.time = fileTimeNow();
        result = policy.judge(facts);
      } else {
        result = errno == ENOENT ? RemoveResult::Gone : RemoveResult::Failed;
        posix::fail("stat");
      }
    } else {
      // The status through a descriptor opened anew: a network file system
      // revalidates what it has cached of the file when it is opened.
      const int fresh = openRetrying(p.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      if (fresh < 0) {
        result = errno == ENOENT ? RemoveResult::Gone : RemoveResult::Failed;
        posix::fail("open");
      } else {
        if (::fstat(fresh, &st) != 0) {
          posix::fail("fstat");
        } else {
          facts.now = statusFrom(st);
          facts.time = fileTimeNow();
          result = policy.judge(facts);
        }
        ::close(fresh);
      }
    }
    if (result == RemoveResult::Removed && ::unlink(p.c_str()) != 0) {
      result = errno == ENOENT ? RemoveResult::Gone : RemoveResult::Failed;
      posix::fail("unlink");
    }
    // The close gives the lease back. (Only failed calls of this layer
    // record an error: a close on the way out leaves the reason alone.)
    ::close(fd(f));
    return result;
  }

  // A name lives in its directory only: the directory's sync makes it durable.
  SyncResult syncName(const char16_t*) override { return SyncResult::Synced; }

  SyncResult syncParentDirectory(const char16_t* path) override {
    posix::NativePath p(path);
    if (!p) return posix::fail("open", p.error()), SyncResult::Failed;
    // The directory: the path up to its last separator.
    const char* dir = ".";
    if (char* slash = std::strrchr(p.data(), '/')) {
      slash[slash == p.data() ? 1 : 0] = '\0';
      dir = p.c_str();
    }
    const int d = openRetrying(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d < 0) return posix::fail("open"), SyncResult::Failed;
    SyncResult result = SyncResult::Synced;
    if (::fsync(d) != 0) {
      // Some file systems say that they cannot sync a directory at all.
      result = errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP ? SyncResult::NotSupported
                                                                           : SyncResult::Failed;
      posix::fail("fsync");
    }
    ::close(d);
    return result;
  }

  bool copyMetadata(FileHandle f, const FileStatus& like, const FileStatus* current) override {
    FileStatus now;
    if (current) {
      now = *current;
    } else if (!status(f, now)) {
      return false;
    }
    bool ok = true;
    // Only root may give a file away; for anyone else the output is theirs.
    static const bool root = ::geteuid() == 0;
    if (root && (now.owner != like.owner || now.group != like.group) &&
        ::fchown(fd(f), static_cast<uid_t>(like.owner), static_cast<gid_t>(like.group)) != 0) {
      ok = posix::fail("fchown");
    }
    // After the owner: giving a file away may clear its set-id bits.
    const mode_t mode = static_cast<mode_t>(like.permissions & 0777);
    if (now.permissions != mode && ::fchmod(fd(f), mode) != 0 && ok) ok = posix::fail("fchmod");
    const timespec times[2] = {timeFrom(like.accessed), timeFrom(like.modified)};
    if (::futimens(fd(f), times) != 0 && ok) ok = posix::fail("futimens");
    return ok;
  }

  std::int64_t fileTimeNow() override {
    timespec t;
    ::clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  }

  std::unique_ptr<DirectoryCursor> listDirectory(const char16_t* directory, std::uint32_t length,
                                                 bool keepAccessTime) override {
    auto listing = std::make_unique<DirectoryListing>();
    if (!listing->open(directory, length, keepAccessTime)) return nullptr;
    return listing;
  }

  Stream* streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) override {
    const FileHandle f = createNew(path);
    if (f == kInvalidFile) return nullptr;
    std::FILE* file = ::fdopen(fd(f), "w+b");
    if (!file) {
      posix::fail("fdopen");
      ::close(fd(f));
      return nullptr;
    }
    Stream* s = stdio::adopt(file, buffer, bufferSize);
    if (!s) posix::fail("setvbuf", ENOMEM);
    return s;
  }

  std::size_t streamWrite(Stream* s, const void* data, std::size_t size) override {
    const std::size_t n = stdio::write(s, data, size);
    if (n != size) posix::fail("fwrite");
    return n;
  }

  std::size_t streamRead(Stream* s, void* buffer, std::size_t size) override {
    const std::size_t n = stdio::read(s, buffer, size);
    if (n != size) posix::fail("fread", std::ferror(s->file) ? errno : EIO);
    return n;
  }

  bool streamSeek(Stream* s, std::uint64_t offset) override {
    return ::fseeko(s->file, static_cast<off_t>(offset), SEEK_SET) == 0 || posix::fail("fseeko");
  }

  bool streamFlushToDisk(Stream* s) override {
    if (!stdio::drain(s)) return posix::fail("fflush");
    return ::fsync(::fileno(s->file)) == 0 || posix::fail("fsync");
  }

  bool streamClose(Stream* s) override { return stdio::close(s) || posix::fail("fclose"); }

  FileHandle streamHandle(Stream* s) override {
    return stdio::drain(s) ? ::fileno(s->file) : (posix::fail("fflush"), kInvalidFile);
  }

  void adviseSequential(FileHandle f) override { ::posix_fadvise(fd(f), 0, 0, POSIX_FADV_SEQUENTIAL); }

  // Refused (EPERM) for a file of another owner without CAP_FOWNER: its
  // reads then set the access time as any reader's do.
  void keepAccessTime(FileHandle f) override {
    const int flags = ::fcntl(fd(f), F_GETFL);
    if (flags != -1) ::fcntl(fd(f), F_SETFL, flags | O_NOATIME);
  }

  void adviseDone(FileHandle f, std::uint64_t offset, std::uint64_t length) override {
    ::posix_fadvise(fd(f), static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_DONTNEED);
  }

  void startWriteBack(FileHandle f, std::uint64_t offset, std::uint64_t length) override {
    ::sync_file_range(fd(f), static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
  }

  // syncfs reports a failed write-back on the file system since the
  // descriptor was opened only from Linux 5.8 on, and makes data durable
  // only where the file system lies on this machine's own disk: a FUSE or
  // network file system's sync may stop at its server or daemon.
  bool flushFileSystemOf(FileHandle f) override {
    static const bool reportsErrors = kernelAtLeast(5, 8);
    if (!reportsErrors || !syncedByTheDisk(fd(f))) return false;
    return ::syncfs(fd(f)) == 0 || posix::fail("syncfs");
  }

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
