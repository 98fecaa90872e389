#include <unistd.h>

#include <string>

#include "platform/posix/path_codec.h"
#include "platform/program.h"
#include "platform/utf8_codec.h"

namespace platform {

std::uint32_t programPath(char16_t* buffer, std::uint32_t capacity) {
  if (capacity == 0) return 0;
  char bytes[4096];
  const ssize_t n = ::readlink("/proc/self/exe", bytes, sizeof bytes);
  std::u16string path;
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof bytes ||
      !posix::fromNative(bytes, static_cast<std::size_t>(n), path)) {
    buffer[0] = u'\0';
    return 0;
  }
  std::uint32_t count = static_cast<std::uint32_t>(path.size());
  if (count > capacity - 1) count = capacity - 1;
  path.copy(buffer, count);
  buffer[count] = u'\0';
  return count;
}

std::vector<std::string> argumentsAsUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool argumentDecodesExactly(const char* bytes, std::size_t size) {
  std::u16string decoded;
  return utf8::decodeExactly(bytes, size, decoded);
}

}  // namespace platform
