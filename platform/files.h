#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/system_error.h"

namespace platform {

// A native file: a HANDLE on Windows, a descriptor on POSIX.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// A buffered C runtime stream (FILE) opened by this layer.
struct Stream;

// The units of file times: FILETIME's 100 ns on Windows, nanoseconds on POSIX.
#ifdef _WIN32
inline constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;
#else
inline constexpr std::int64_t kFileTimeUnitsPerSecond = 1000000000;
#endif

// Identifies a file or directory independently of the path that reached
// it: device and inode, or volume serial and file index.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
  friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

enum class FileKind : std::uint8_t { Regular, Directory, Other };

// What a name means right now: which file, what kind, how long, and when
// it was last written (in the system's own units, kFileTimeUnitsPerSecond
// to the second), with what an output takes over from its archive.
struct FileStatus {
  FileIdentity identity;
  FileKind kind = FileKind::Other;
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  // When anything of the file last changed, its times included: unlike
  // `modified`, no program can set it back.
  std::int64_t changed = 0;
  // POSIX: the permission bits, owner and group, and the last access.
  std::uint32_t permissions = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::int64_t accessed = 0;
  // Windows: the creation time.
  std::int64_t created = 0;
};

// Whether two statuses of a regular file say that nobody has replaced or
// written it in between: the same file, as long, written last at the same
// time. Owner, permissions and access times are not the content.
inline bool sameContent(const FileStatus& a, const FileStatus& b) {
  return a.identity == b.identity && a.kind == b.kind && a.size == b.size && a.modified == b.modified;
}

struct DirectoryEntry {
  // Valid until the next call of next(). On POSIX each byte of the name
  // that is not UTF-8 is the lone surrogate U+DC00 + byte, which a path
  // made from the name takes back to that byte.
  const char16_t* name = nullptr;
  std::uint32_t nameLength = 0;
  bool isDirectory = false;  // links to directories count as directories
};

// The entries of one directory, one at a time.
class DirectoryCursor {
 public:
  virtual ~DirectoryCursor() = default;
  // The next entry; false at the end of the listing or on an error, which
  // error() then tells.
  virtual bool next(DirectoryEntry& entry) = 0;
  virtual const SystemError& error() const = 0;
};

enum class LockResult : std::uint8_t { Locked, Busy, Failed };

// Whether the names in a directory were made durable.
enum class SyncResult : std::uint8_t {
  Synced,
  // The file system cannot sync a directory (it says so): the files' own
  // flushes are all the durability there is.
  NotSupported,
  Failed,
};

enum class RemoveResult : std::uint8_t {
  Removed,
  Changed,  // the name no longer means the file as it was described
  InUse,    // another program is writing the file: it is open for writing, or has grown
  Recent,   // written too recently, where a writer could not be seen
  Gone,     // nothing has the name any more
  Failed,
};

// What the system can tell about an archive at the moment of its removal,
// for a RemovalPolicy to judge.
struct RemovalFacts {
  // The file the name means now, seen through a handle opened anew (a
  // network file system's cached attributes are revalidated by an open).
  FileStatus now;
  // Another program has the file open for writing, or holds it without
  // sharing it.
  bool writerSeen = false;
  // Whether a writer would have been seen: a lease the system grants only
  // while nobody writes, on a file system that sees every opener, or a
  // handle that shares no writing. Where it is false, a writer on another
  // machine or through another view of the file may be at work unseen.
  bool writersVisible = false;
  // The moment of the removal, in the units of FileStatus::modified.
  std::int64_t time = 0;
};

// Decides, from the facts the system gathered, whether an archive may go.
// Called by FileApi::removeIfUnchanged between the look and the removal,
// with the file kept from writers where the system can do that.
class RemovalPolicy {
 public:
  virtual RemoveResult judge(const RemovalFacts& facts) const = 0;

 protected:
  ~RemovalPolicy() = default;
};

// The operations of FileApi, named for test file systems that count or
// fail them.
enum class FileOp : std::uint8_t {
  OpenRead,
  Read,
  Seek,
  Status,
  PathStatus,
  Lock,
  NextData,
  CreateNew,
  Write,
  Flush,
  Close,
  Rename,
  Remove,
  RemoveIfUnchanged,
  SyncName,
  SyncDirectory,
  CopyMetadata,
  FlushFileSystem,
  ListDirectory,
  StreamCreate,
  StreamWrite,
  StreamRead,
  StreamSeek,
  StreamFlush,
  StreamClose,
  kCount
};

const char* fileOpName(FileOp op);

class FileApi;
// The services in use: the native ones unless a test installed others.
FileApi& files();

// Owns one open file and closes it, through the services that opened it,
// when it goes: what holds a ScopedFile owns the file, and a call that takes
// one by value consumes it.
class ScopedFile {
 public:
  ScopedFile() = default;
  explicit ScopedFile(FileHandle handle) : handle_(handle), api_(&files()) {}
  ScopedFile(FileHandle handle, FileApi& api) : handle_(handle), api_(&api) {}
  ~ScopedFile() { close(); }
  ScopedFile(ScopedFile&& other) noexcept : handle_(other.release()), api_(other.api_) {}
  ScopedFile& operator=(ScopedFile&& other) noexcept {
    if (this != &other) {
      close();
      api_ = other.api_;
      handle_ = other.release();
    }
    return *this;
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

  FileHandle get() const { return handle_; }
  explicit operator bool() const { return handle_ != kInvalidFile; }
  // Gives the handle up to the caller, who closes it.
  FileHandle release() {
    const FileHandle h = handle_;
    handle_ = kInvalidFile;
    return h;
  }
  // Closes the file now; false reports a failed close (the handle is gone
  // either way).
  inline bool close();

 private:
  FileHandle handle_ = kInvalidFile;
  FileApi* api_ = nullptr;
};

// Every file operation of the program goes through one FileApi, so that
// tests can interpose faults. Paths are zero-terminated UTF-16. Each
// operation reports failure (and records the reason for lastFileError());
// none throws, but for std::bad_alloc where a path is converted on Windows
// (an operation that closes a handle has closed it then).
class FileApi {
 public:
  virtual ~FileApi() = default;

  // Opens an existing regular file (or a link to one) for reading; other
  // programs may go on reading and writing it, but not delete it. Never
  // blocks: a FIFO, socket or device is refused with Kind::NotRegular, a
  // file another program holds without sharing it with Kind::Busy. The
  // status of the file opened goes to `opened` when it is given.
  virtual FileHandle openForRead(const char16_t* path, FileStatus* opened = nullptr) = 0;
  // Reads up to `size` bytes; `got` < `size` without failure means the end.
  // On failure `got` counts the bytes read before the read that failed.
  virtual bool read(FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) = 0;
  // Moves to an absolute offset.
  virtual bool seek(FileHandle f, std::uint64_t offset) = 0;
  virtual bool status(FileHandle f, FileStatus& out) = 0;
  // The status of what `path` names, following links.
  virtual bool pathStatus(const char16_t* path, FileStatus& out) = 0;
  // Takes an exclusive lock that keeps other copies of this program off the
  // file, without waiting; it lasts until the handle is closed. It does not
  // keep other programs from reading or writing the file.
  virtual LockResult tryLock(FileHandle f) = 0;
  // The offset of the first byte at or after `offset` that may hold data,
  // skipping holes where the system knows them; the file's size if none.
  virtual bool nextData(FileHandle f, std::uint64_t offset, std::uint64_t& dataOffset) = 0;

  // Creates a new file for reading and writing. Fails (Kind::Exists) if the
  // name is taken, by anything, a link included: nothing is ever written
  // through a name that was already there.
  virtual FileHandle createNew(const char16_t* path) = 0;
  // Writes all `size` bytes or fails.
  virtual bool write(FileHandle f, const void* data, std::uint32_t size) = 0;
  // Returns once the file's data has reached stable storage.
  virtual bool flushToDisk(FileHandle f) = 0;
  // Releases the handle in every case; false reports a failed close.
  virtual bool close(FileHandle f) = 0;
  // Gives the file at `from` the name `to`, replacing whatever file, link or
  // FIFO is there (never a directory). Durable after syncParentDirectory
  // (where the system keeps names apart from their files, the new name is
  // also flushed through a handle on it).
  virtual bool rename(const char16_t* from, const char16_t* to) = 0;
  // Removes the name `path`; a link loses the link, never what it leads to.
  virtual bool remove(const char16_t* path) = 0;
  // Removes the name `path`, whose file `f` holds open for reading, if
  // `policy` judges that it may go, from the facts gathered at that moment;
  // closes `f` in every case. A link at `path` is judged by the file it
  // leads to, and only the link is removed. Writers are kept off the file
  // from the look to the removal where the system can do that, and a lock
  // taken through `f` lasts until the name is gone where the system can
  // remove an open file. Gone when nothing has the name any more; Failed
  // (with the reason) when the facts could not be had or the removal failed.
  virtual RemoveResult removeIfUnchanged(const char16_t* path, ScopedFile file, const RemovalPolicy& policy) = 0;
  // Makes the name `path`, just given to a file by rename, durable as far
  // as the file system keeps names with their files: on Windows a flush
  // through a handle opened on the new name. Nothing to do on POSIX, where
  // the directory's sync does it all.
  virtual SyncResult syncName(const char16_t* path) = 0;
  // Makes the names created in, renamed into or removed from the directory
  // holding `path` durable.
  virtual SyncResult syncParentDirectory(const char16_t* path) = 0;
  // Gives the file `f` (one this program created and still writes) the
  // permission bits and times of the file `like` describes, and its owner
  // and group where the process may give files away; called after the last
  // write, since a write sets the time again. `current`, when given, is the
  // status of `f` as it stands, taken just before.
  virtual bool copyMetadata(FileHandle f, const FileStatus& like, const FileStatus* current = nullptr) = 0;
  // The time now, in the units of FileStatus::modified.
  virtual std::int64_t fileTimeNow() = 0;
  // Writes everything written to the file system holding `f` to stable
  // storage, as one piece of work instead of one flush per file. True only
  // where the system promises that all data written there since `f` was
  // opened is then durable and that none of it failed to be written; false
  // (nothing promised, each file to be flushed on its own) where it cannot
  // say so, or reports an error.
  virtual bool flushFileSystemOf(FileHandle f) = 0;

  // Lists the directory `directory`, a zero-terminated path ending in the
  // separator that holds `length` units before the terminator; null when it
  // cannot be listed, with the reason. `keepAccessTime`: the listing leaves
  // the directory's access time as it is, where the system lets a reader ask
  // for that (as keepAccessTime). Throws std::bad_alloc.
  virtual std::unique_ptr<DirectoryCursor> listDirectory(const char16_t* directory, std::uint32_t length,
                                                         bool keepAccessTime) = 0;

  // Creates a new file as createNew does and opens a read-write C stream on
  // it with `buffer` as its full buffer. Null on failure.
  virtual Stream* streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) = 0;
  virtual std::size_t streamWrite(Stream* s, const void* data, std::size_t size) = 0;
  virtual std::size_t streamRead(Stream* s, void* buffer, std::size_t size) = 0;
  // Moves to an absolute offset (64-bit).
  virtual bool streamSeek(Stream* s, std::uint64_t offset) = 0;
  // Drains the stream's buffer and returns once the data is on stable storage.
  virtual bool streamFlushToDisk(Stream* s) = 0;
  // Releases the stream in every case; false reports an error seen by the close.
  virtual bool streamClose(Stream* s) = 0;
  // Hands the stream's buffer to the system and gives the file under it,
  // for the calls that take a handle; it stays the stream's to close.
  // kInvalidFile when the buffer could not be written.
  virtual FileHandle streamHandle(Stream* s) = 0;

  // Hints about the future, for the system's cache; they change no result,
  // report nothing and do nothing where the system takes no such hint.
  // The file is to be read once, from start to end.
  virtual void adviseSequential(FileHandle) {}
  // Reads through `f` leave the file's access time as it is, where the
  // system lets this reader ask for that (the file's owner, on Linux).
  virtual void keepAccessTime(FileHandle) {}
  // The cached pages of the range (a length of 0: to the end) will not be
  // needed again.
  virtual void adviseDone(FileHandle, std::uint64_t /*offset*/, std::uint64_t /*length*/) {}
  // Starts writing the range (a length of 0: to the end) to the disk without
  // waiting for it, so that a later flush finds little left to do.
  virtual void startWriteBack(FileHandle, std::uint64_t /*offset*/, std::uint64_t /*length*/) {}
  // The same for a stream, once its buffer has been handed to the system.
  virtual void streamStartWriteBack(Stream*, std::uint64_t /*offset*/, std::uint64_t /*length*/) {}
};

// Passes every call on to another FileApi. Test file systems derive from it
// and override only the calls they change; `admit` lets one refuse any call
// before it reaches the target, which then fails the way the system reports
// a failure (with the error the hook recorded).
class FileApiWrapper : public FileApi {
 public:
  explicit FileApiWrapper(FileApi& target) : target_(target) {}
  FileApi& target() const { return target_; }

  FileHandle openForRead(const char16_t* path, FileStatus* opened = nullptr) override {
    return admit(FileOp::OpenRead) ? target_.openForRead(path, opened) : kInvalidFile;
  }
  bool read(FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    return admit(FileOp::Read) && target_.read(f, buffer, size, got);
  }
  bool seek(FileHandle f, std::uint64_t offset) override { return admit(FileOp::Seek) && target_.seek(f, offset); }
  bool status(FileHandle f, FileStatus& out) override { return admit(FileOp::Status) && target_.status(f, out); }
  bool pathStatus(const char16_t* path, FileStatus& out) override {
    return admit(FileOp::PathStatus) && target_.pathStatus(path, out);
  }
  LockResult tryLock(FileHandle f) override { return admit(FileOp::Lock) ? target_.tryLock(f) : LockResult::Failed; }
  bool nextData(FileHandle f, std::uint64_t offset, std::uint64_t& dataOffset) override {
    return admit(FileOp::NextData) && target_.nextData(f, offset, dataOffset);
  }
  FileHandle createNew(const char16_t* path) override {
    return admit(FileOp::CreateNew) ? target_.createNew(path) : kInvalidFile;
  }
  bool write(FileHandle f, const void* data, std::uint32_t size) override {
    return admit(FileOp::Write) && target_.write(f, data, size);
  }
  bool flushToDisk(FileHandle f) override { return admit(FileOp::Flush) && target_.flushToDisk(f); }
  bool close(FileHandle f) override {
    // A refused close still releases the handle, as the system's does.
    const bool admitted = admit(FileOp::Close);
    return target_.close(f) && admitted;
  }
  bool rename(const char16_t* from, const char16_t* to) override {
    return admit(FileOp::Rename) && target_.rename(from, to);
  }
  bool remove(const char16_t* path) override { return admit(FileOp::Remove) && target_.remove(path); }
  RemoveResult removeIfUnchanged(const char16_t* path, ScopedFile file, const RemovalPolicy& policy) override {
    if (admit(FileOp::RemoveIfUnchanged)) return target_.removeIfUnchanged(path, std::move(file), policy);
    // The refused call still consumes the file, as the system's does.
    target_.close(file.release());
    return RemoveResult::Failed;
  }
  SyncResult syncName(const char16_t* path) override {
    return admit(FileOp::SyncName) ? target_.syncName(path) : SyncResult::Failed;
  }
  SyncResult syncParentDirectory(const char16_t* path) override {
    return admit(FileOp::SyncDirectory) ? target_.syncParentDirectory(path) : SyncResult::Failed;
  }
  bool copyMetadata(FileHandle f, const FileStatus& like, const FileStatus* current = nullptr) override {
    return admit(FileOp::CopyMetadata) && target_.copyMetadata(f, like, current);
  }
  std::int64_t fileTimeNow() override { return target_.fileTimeNow(); }
  bool flushFileSystemOf(FileHandle f) override {
    return admit(FileOp::FlushFileSystem) && target_.flushFileSystemOf(f);
  }
  std::unique_ptr<DirectoryCursor> listDirectory(const char16_t* directory, std::uint32_t length,
                                                 bool keepAccessTime) override {
    return admit(FileOp::ListDirectory) ? target_.listDirectory(directory, length, keepAccessTime) : nullptr;
  }
  Stream* streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) override {
    return admit(FileOp::StreamCreate) ? target_.streamCreate(path, buffer, bufferSize) : nullptr;
  }
  std::size_t streamWrite(Stream* s, const void* data, std::size_t size) override {
    return admit(FileOp::StreamWrite) ? target_.streamWrite(s, data, size) : 0;
  }
  std::size_t streamRead(Stream* s, void* buffer, std::size_t size) override {
    return admit(FileOp::StreamRead) ? target_.streamRead(s, buffer, size) : 0;
  }
  bool streamSeek(Stream* s, std::uint64_t offset) override {
    return admit(FileOp::StreamSeek) && target_.streamSeek(s, offset);
  }
  bool streamFlushToDisk(Stream* s) override { return admit(FileOp::StreamFlush) && target_.streamFlushToDisk(s); }
  bool streamClose(Stream* s) override {
    const bool admitted = admit(FileOp::StreamClose);
    return target_.streamClose(s) && admitted;
  }
  FileHandle streamHandle(Stream* s) override { return target_.streamHandle(s); }
  void adviseSequential(FileHandle f) override { target_.adviseSequential(f); }
  void keepAccessTime(FileHandle f) override { target_.keepAccessTime(f); }
  void adviseDone(FileHandle f, std::uint64_t offset, std::uint64_t length) override {
    target_.adviseDone(f, offset, length);
  }
  void startWriteBack(FileHandle f, std::uint64_t offset, std::uint64_t length) override {
    target_.startWriteBack(f, offset, length);
  }
  void streamStartWriteBack(Stream* s, std::uint64_t offset, std::uint64_t length) override {
    target_.streamStartWriteBack(s, offset, length);
  }


 protected:
  // Called before every call; false refuses it. A refusing override records
  // the error the call is to report with setLastFileError.
  virtual bool admit(FileOp) { return true; }

 private:
  FileApi& target_;
};

// The system's own file services.
FileApi& nativeFiles();

// Test seam: routes every file operation through `api` from now on; null
// restores the native services. Not for use while files are open.
void setFilesForTesting(FileApi* api);

inline bool ScopedFile::close() {
  const FileHandle h = release();
  return h == kInvalidFile || api_->close(h);
}

}  // namespace platform
