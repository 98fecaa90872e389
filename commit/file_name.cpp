#include "commit/file_name.h"

#include <algorithm>
#include <new>

#include "platform/paths.h"

FileName::FileName(const char16_t* path) noexcept {
  const char16_t* name = path;
  const char16_t* end = path;
  for (; *end; ++end) {
    if (*end == platform::kPathSeparator) name = end + 1;
  }
  const auto length = static_cast<std::uint32_t>(end - name);
  if (length == 0) return;
  try {
    std::shared_ptr<char16_t[]> units(new char16_t[length]);
    std::copy(name, end, units.get());
    units_ = std::move(units);
    length_ = length;
  } catch (const std::bad_alloc&) {
    // No name: the failure is told without it.
  }
}
