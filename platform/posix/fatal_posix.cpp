#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/fatal_line.h"

namespace platform::fatal_line {

namespace {

// strerror_r comes in two shapes: the XSI one returns a status and fills
// the buffer, the GNU one returns the text, which may be its own.
[[maybe_unused]] const char* chosenText(int status, const char* buffer) { return status == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* chosenText(const char* text, const char*) { return text; }

}  // namespace

void writeStandardError(const char* data, std::size_t size) noexcept {
  while (size > 0) {
    const ssize_t n = ::write(STDERR_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

std::size_t systemErrorText(std::uint32_t error, char* out, std::size_t capacity) noexcept {
  char buffer[256];
  buffer[0] = '\0';
  const char* text = chosenText(::strerror_r(static_cast<int>(error), buffer, sizeof buffer), buffer);
  if (!text || !*text) {
    std::snprintf(buffer, sizeof buffer, "error %u", static_cast<unsigned>(error));
    text = buffer;
  }
  const std::size_t n = ::strlen(text);
  const std::size_t take = n < capacity ? n : capacity;
  ::memcpy(out, text, take);
  return take;
}

}  // namespace platform::fatal_line
