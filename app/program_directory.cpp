#include "app/program_directory.h"

#include "platform/paths.h"
#include "platform/program.h"

xtd::dwstring programDirectory() {
  char16_t buffer[1024] = {};
  const std::uint32_t n = platform::programPath(buffer, 1024);
  // Position 0 is never the separator to cut at: "/x" stays whole.
  for (std::uint32_t i = n; i-- > 1;) {
    if (buffer[i] == platform::kPathSeparator) {
      buffer[i + 1] = u'\0';
      break;
    }
  }
  return xtd::dwstring::from_cstr(buffer);
}
