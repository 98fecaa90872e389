#pragma once

#include <cstdint>
#include <memory>

#include "platform/files.h"

namespace platform {

struct DirectoryEntry {
  // Valid until the next call of next(). On POSIX each byte of the name
  // that is not UTF-8 is the lone surrogate U+DC00 + byte, which a path
  // made from the name takes back to that byte.
  const char16_t* name = nullptr;
  std::uint32_t nameLength = 0;
  bool isDirectory = false;  // links to directories count as directories
};

// Lists the entries of one directory in the order the system delivers them,
// "." and ".." included where the system reports them.
class DirectoryListing {
 public:
  DirectoryListing();
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // `directory` is a zero-terminated path ending in the separator; it holds
  // `length` units before the terminator. False when it cannot be listed,
  // with the reason in lastFileError(). `keepAccessTime`: listing leaves the
  // directory's access time as it is, where the system lets this reader ask
  // for that (as FileApi::keepAccessTime).
  bool open(const char16_t* directory, std::uint32_t length, bool keepAccessTime = false);
  // The next entry; false at the end of the listing or on an error, which
  // error() then tells.
  bool next(DirectoryEntry& entry);
  const SystemError& error() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The identity of the directory at `path` (zero-terminated), following links.
bool identifyDirectory(const char16_t* path, FileIdentity& identity);

}  // namespace platform
