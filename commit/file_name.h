#pragma once

#include <cstdint>
#include <memory>

#include "xtd/dstring.h"

// The name, without its directory, of a file beside an archive that a
// failed call was about, kept as a value that a report prints as the file
// had it, whatever named it. Copies share one block: copying allocates
// nothing and cannot fail.
class FileName {
 public:
  FileName() = default;
  // The last component of `path`; without memory for it, no name (the
  // report then says what failed without naming the file).
  explicit FileName(const char16_t* path) noexcept;

  bool empty() const { return length_ == 0; }
  xtd::wstrview view() const { return xtd::wstrview(units_.get(), length_); }

 private:
  std::shared_ptr<const char16_t[]> units_;
  std::uint32_t length_ = 0;
};
