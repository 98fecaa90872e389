#pragma once

#include <cstdint>
#include <memory>

#include "platform/files.h"

namespace platform {

// The system's listing of one directory (FileApi::listDirectory hands it
// out), in the order the system delivers the entries, "." and ".." included
// where the system reports them.
class DirectoryListing final : public DirectoryCursor {
 public:
  DirectoryListing();
  ~DirectoryListing() override;
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // `directory` is a zero-terminated path ending in the separator; it holds
  // `length` units before the terminator. False when it cannot be listed,
  // with the reason in lastFileError(). `keepAccessTime`: listing leaves the
  // directory's access time as it is, where the system lets this reader ask
  // for that (as FileApi::keepAccessTime).
  bool open(const char16_t* directory, std::uint32_t length, bool keepAccessTime = false);
  bool next(DirectoryEntry& entry) override;
  const SystemError& error() const override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
