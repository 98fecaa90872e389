#include "commit/file_name.h"

#include "platform/paths.h"

FileName::FileName(const char16_t* path) {
  const char16_t* name = path;
  for (const char16_t* p = path; *p; ++p) {
    if (*p == platform::kPathSeparator) name = p + 1;
  }
  while (name[length_] && length_ < kCapacity) {
    units_[length_] = name[length_];
    ++length_;
  }
}
