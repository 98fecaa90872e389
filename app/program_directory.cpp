#include "app/program_directory.h"

#include <string>

#include "platform/paths.h"
#include "platform/program.h"

xtd::dwstring directoryOfProgram(xtd::wstrview programPath) {
  std::uint32_t n = programPath.length;
  // Position 0 is never the separator to cut at: "/x" stays whole.
  for (std::uint32_t i = n; i-- > 1;) {
    if (programPath[i] == platform::kPathSeparator) {
      n = i + 1;
      break;
    }
  }
  return xtd::dwstring(xtd::wstrview(programPath.data, n));
}

xtd::dwstring programDirectory() {
  const std::u16string path = platform::programPath();
  return directoryOfProgram(xtd::wstrview(path.data(), static_cast<std::uint32_t>(path.size())));
}
