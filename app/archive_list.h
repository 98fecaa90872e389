#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ostra/lock.h"
#include "xtd/dstring.h"

// The archives a scan found, in the order it found them, kept compactly
// until the workers take them: a run over a million archives must not hold
// a million full paths before its first conversion.
//
// Names are kept as length-prefixed runs in a chain of fixed-size blocks,
// one byte per unit when every unit of a name is below 0x80 and as UTF-16
// units otherwise; a change of directory is a mark in that stream, and each
// directory's path is kept once. Blocks the consumers have moved past are
// freed at once, so the list shrinks as the run goes on.
class ArchiveList {
 public:
  // What one block takes from the heap; a name too long for it gets a
  // block of its own size.
  static constexpr std::size_t kBlockBytes = 256 * 1024;

  ArchiveList() = default;
  ~ArchiveList();
  ArchiveList(const ArchiveList&) = delete;
  ArchiveList& operator=(const ArchiveList&) = delete;

  // Scan side: one thread, before any consumer runs. Each call throws
  // std::bad_alloc with the list unchanged.

  // Archives and leftovers added from now on lie in `directory` (a full
  // path ending in the separator). Coming back to a directory the walk is
  // still below (a depth-first walk returning from a subdirectory) goes on
  // with the record it had, leftovers included.
  void enterDirectory(xtd::wstrview directory);
  // An archive's file name (no separator) in the current directory.
  void addArchive(xtd::wstrview name);
  // A file name in the current directory that an earlier run may have left
  // behind (a temporary output); rare.
  void addLeftover(xtd::wstrview name);
  // Archives added.
  std::uint64_t count() const { return count_; }

  // Consumer side: any thread. The first call ends the scan.

  struct Taken {
    xtd::dwstring path;  // the archive's full path
    // Full paths of the leftovers of its directory; null when none.
    std::shared_ptr<const std::vector<xtd::dwstring>> leftovers;
  };
  // The next archive not yet taken, in discovery order; false when none
  // remain. Allocates nothing but the path, and nothing at all when
  // `out.path` already has the capacity. When that allocation throws, the
  // archive is still the next one to take and `out` is unchanged.
  bool take(Taken& out);
  // Drops every archive not taken yet and returns how many there were (a
  // run that is interrupted).
  std::uint64_t dropRemaining();
  // Bytes the list holds on the heap now: its blocks, directories and
  // leftover lists, without the allocator's own overhead.
  std::size_t bytesHeld() const;

 private:
  struct Directory;
  struct Block;

  struct Cursor {
    Block* block = nullptr;
    std::size_t offset = 0;
  };

  // Room for `bytes` at the end of the stream, in a new block if need be.
  unsigned char* reserveTail(std::size_t bytes);
  // Forgets the walk: directories without archives go now, the others
  // when their last archive is taken.
  void endScan() noexcept;
  // Frees the blocks the consumers are done with.
  void releaseConsumedBlocks() noexcept;
  // One archive of the current read directory is gone.
  void archiveGone() noexcept;
  // Steps over directory marks to the next archive; false at the end.
  bool seekArchive() noexcept;
  void freeDirectory(Directory* directory) noexcept;
  void freeBlock(Block* block) noexcept;

  // Scan side.
  std::vector<Directory*> walk_;  // the directories the walk is in, outermost first
  Directory* marked_ = nullptr;   // the directory the stream's last mark names
  Block* tail_ = nullptr;
  std::uint64_t count_ = 0;

  // Consumer side, under lock_ once the scan has ended.
  mutable Ostra::Lock lock_{"ArchiveList"};
  Cursor read_;
  Directory* reading_ = nullptr;  // the directory of the next archive
  bool scanEnded_ = false;
  std::size_t held_ = 0;
};
