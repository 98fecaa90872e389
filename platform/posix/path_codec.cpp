#include "platform/posix/path_codec.h"

#include "platform/utf8_codec.h"

namespace platform::posix {

std::string toNative(const char16_t* path) {
  std::string out;
  const char16_t* end = path;
  while (*end != u'\0') ++end;
  utf8::encode(path, end, out);
  return out;
}

bool fromNative(const char* bytes, std::size_t size, std::u16string& out) {
  return utf8::decodeExactly(bytes, size, out);
}

}  // namespace platform::posix
