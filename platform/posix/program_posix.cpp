#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/path_codec.h"
#include "platform/program.h"
#include "platform/utf8_codec.h"

namespace platform {

std::u16string programPath() {
  // Far beyond any path the kernel reports; a link that long is no answer.
  constexpr std::size_t kLongest = std::size_t{1} << 20;
  std::vector<char> bytes(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", bytes.data(), bytes.size());
    if (n <= 0) return {};
    const auto size = static_cast<std::size_t>(n);
    // readlink cuts silently: only a result shorter than the buffer is whole.
    if (size < bytes.size()) {
      std::u16string path;
      if (!posix::fromNative(bytes.data(), size, path)) return {};
      return path;
    }
    if (bytes.size() >= kLongest) return {};
    bytes.resize(bytes.size() * 2);
  }
}

std::vector<std::string> argumentsAsUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool argumentDecodesExactly(const char* bytes, std::size_t size) {
  std::u16string decoded;
  return utf8::decodeExactly(bytes, size, decoded);
}

}  // namespace platform
