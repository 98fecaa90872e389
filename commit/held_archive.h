#pragma once

#include "platform/files.h"

// The files this run holds locked as archives. Another name of a file this
// run holds (a hard link) then finds the lock taken by this run, not by
// another one, and waits its turn instead of being left alone.
class HeldArchive {
 public:
  HeldArchive() = default;
  // Records the file as held; throws std::bad_alloc without memory.
  explicit HeldArchive(const platform::FileIdentity& file);
  // Forgets it: the lock must be let go first.
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

  // Whether this run holds the file under another name.
  static bool heldByThisRun(const platform::FileIdentity& file);

 private:
  platform::FileIdentity file_;
  bool held_ = false;
};
