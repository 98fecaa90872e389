#pragma once

#include <cstdint>

#include "platform/files.h"

// The files this run holds locked as archives. Another name of a file this
// run holds (a hard link) then finds the lock taken by this run, not by
// another one, and waits its turn instead of being left alone.
class HeldArchive {
 public:
  HeldArchive() = default;
  // Forgets the file: the lock must be let go first.
  ~HeldArchive() { reset(); }
  HeldArchive(HeldArchive&& other) noexcept : file_(other.file_), held_(other.held_) { other.held_ = false; }
  HeldArchive& operator=(HeldArchive&& other) noexcept {
    if (this != &other) {
      reset();
      file_ = other.file_;
      held_ = other.held_;
      other.held_ = false;
    }
    return *this;
  }
  HeldArchive(const HeldArchive&) = delete;
  HeldArchive& operator=(const HeldArchive&) = delete;

  void reset();

  // Who holds a file once this run has asked for its lock.
  enum class Claim : std::uint8_t {
    Taken,             // this run, through this object: other runs stay off the file until it is closed
    HeldByThisRun,     // this run, through another name of the file (a hard link)
    HeldByAnotherRun,
    Failed,            // see lastFileError()
  };
  // Takes the lock on `file`, open as `identity`, that keeps other runs of
  // the program off it, and records it as held. Asked while no worker of
  // this run takes or lets go of a file, so that a lock found taken and
  // what this run holds agree. A file this run holds under another name
  // that lets go of its lock before its name (a removal on Windows) is
  // not taken either. Throws std::bad_alloc without memory to record it.
  Claim claim(platform::FileHandle file, const platform::FileIdentity& identity);

  // Counts every hold and release, for heldSince.
  static std::uint64_t changes();
  // Whether this run holds the file, or has let go of it since `changes()`
  // said `since`: a file that could not be opened for a moment may have
  // been held by this run under another name, which let go meanwhile.
  static bool heldSince(const platform::FileIdentity& file, std::uint64_t since);

 private:
  void hold();  // under the registry's lock

  platform::FileIdentity file_;
  bool held_ = false;
};
