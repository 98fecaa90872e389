#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/files.h"

namespace avdtest {

// File services over an in-memory file system, for fuzzing and for
// simulated power losses. It remembers what a real disk would have kept:
// a file's data becomes durable with a flush to disk, a name created,
// renamed or removed in a directory with a sync of that directory. Its
// clock moves on by a nanosecond with every write, so that a write always
// changes a file's time, and by whatever a test says.
class MemoryFiles final : public platform::FileApi {
 public:
  // Durable at once; written an hour before the clock's start.
  void put(const std::u16string& path, const std::string& bytes);
  // Opens a file for writing as another program would; returns the handle
  // (close it with close()).
  platform::FileHandle openForWriting(const std::u16string& path);
  // Appends to the file, as another program would.
  void append(const std::u16string& path, const std::string& bytes);
  // Whether a lease would see another program's writers (a local disk) or
  // not (a network or FUSE file system, another owner's file).
  void setWritersVisible(bool visible);
  void advanceClock(std::int64_t seconds);
  platform::FileStatus statusOf(const std::u16string& path) const;
  bool exists(const std::u16string& path) const;
  std::string contents(const std::u16string& path) const;
  // Every file, by path.
  std::map<std::u16string, std::string> files() const;
  int openHandles() const;

  // A power loss: what was not durable is lost. Unflushed data is cut back to
  // the last flush (or, with `garble`, replaced by junk of the same length),
  // names created or renamed without a directory sync vanish or point where
  // they pointed before. Removals are taken as durable at once, the worst
  // case for a program that deletes what it has replaced. Handles and locks
  // are forgotten.
  void crash(bool garble);

  platform::FileHandle openForRead(const char16_t* path, platform::FileStatus* opened = nullptr) override;
  bool read(platform::FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) override;
  bool seek(platform::FileHandle f, std::uint64_t offset) override;
  bool status(platform::FileHandle f, platform::FileStatus& out) override;
  bool pathStatus(const char16_t* path, platform::FileStatus& out) override;
  platform::LockResult tryLock(platform::FileHandle f) override;
  bool nextData(platform::FileHandle f, std::uint64_t offset, std::uint64_t& dataOffset) override;
  platform::FileHandle createNew(const char16_t* path) override;
  bool write(platform::FileHandle f, const void* data, std::uint32_t size) override;
  bool flushToDisk(platform::FileHandle f) override;
  bool close(platform::FileHandle f) override;
  bool rename(const char16_t* from, const char16_t* to) override;
  bool remove(const char16_t* path) override;
  platform::RemoveResult removeIfUnchanged(const char16_t* path, platform::ScopedFile file,
                                           const platform::RemovalPolicy& policy) override;
  platform::SyncResult syncName(const char16_t* path) override;
  platform::SyncResult syncParentDirectory(const char16_t* path) override;
  bool copyMetadata(platform::FileHandle f, const platform::FileStatus& like,
                    const platform::FileStatus* current = nullptr) override;
  std::int64_t fileTimeNow() override;
  // Every file's data becomes durable, as a sync of the whole disk makes it.
  bool flushFileSystemOf(platform::FileHandle f) override;
  // The names below `directory` (which ends in the separator): files, and
  // the directories their paths imply.
  std::unique_ptr<platform::DirectoryCursor> listDirectory(const char16_t* directory, std::uint32_t length,
                                                           bool keepAccessTime) override;
  platform::Stream* streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) override;
  std::size_t streamWrite(platform::Stream* s, const void* data, std::size_t size) override;
  std::size_t streamRead(platform::Stream* s, void* buffer, std::size_t size) override;
  bool streamSeek(platform::Stream* s, std::uint64_t offset) override;
  bool streamFlushToDisk(platform::Stream* s) override;
  bool streamClose(platform::Stream* s) override;
  platform::FileHandle streamHandle(platform::Stream* s) override;

 private:
  struct Node {
    std::uint64_t serial = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    std::uint32_t permissions = 0644;
    std::string data;
    std::string durableData;
    platform::FileHandle lockedBy = platform::kInvalidFile;
  };
  struct Open {
    std::shared_ptr<Node> node;
    std::uint64_t position = 0;
    bool writable = false;
  };

  Open* find(platform::FileHandle f);
  std::shared_ptr<Node> newNode();
  platform::FileHandle add(std::shared_ptr<Node> node, bool writable);
  std::size_t writeAt(Open& o, const void* data, std::size_t size);
  bool closeLocked(platform::FileHandle f);
  bool fail(platform::SystemError::Kind kind, const char* call = nullptr);
  platform::FileStatus statusLocked(const Node& node) const;
  bool hasWriter(const std::shared_ptr<Node>& node) const;

  mutable std::mutex mutex_;
  std::map<std::u16string, std::shared_ptr<Node>> names_;
  std::map<std::u16string, std::shared_ptr<Node>> durableNames_;
  std::set<std::u16string> removed_;
  std::map<platform::FileHandle, Open> open_;
  platform::FileHandle next_ = 100;
  std::uint64_t serial_ = 1;
  std::int64_t now_ = std::int64_t{1800000000} * platform::kFileTimeUnitsPerSecond;
  bool writersVisible_ = true;
};

}  // namespace avdtest
