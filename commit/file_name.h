#pragma once

#include <cstdint>

#include "xtd/dstring.h"

// The name, without its directory, of a file beside an archive that a
// failed call was about, kept as a value: copying it allocates nothing, and
// a report prints the name the file had, whatever named it.
class FileName {
 public:
  FileName() = default;
  // The last component of `path`.
  explicit FileName(const char16_t* path);

  bool empty() const { return length_ == 0; }
  xtd::wstrview view() const { return xtd::wstrview(units_, length_); }

 private:
  // The longest name a file system takes (255 units, or 255 bytes).
  static constexpr std::uint32_t kCapacity = 255;
  char16_t units_[kCapacity] = {};
  std::uint16_t length_ = 0;
};
