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

NativePath::NativePath(const char16_t* path) {
  std::size_t n = 0;
  for (const char16_t* p = path; *p != u'\0';) {
    const char16_t* end = p;
    while (*end != u'\0' && end - p < 2) ++end;
    const utf8::Encoded e = utf8::encodeOne(p, end);
    if (n + e.count >= sizeof bytes_) {
      bytes_[0] = '\0';
      return;
    }
    for (std::size_t i = 0; i < e.count; ++i) bytes_[n++] = e.bytes[i];
    p += e.units;
  }
  bytes_[n] = '\0';
  fits_ = true;
}

bool fromNative(const char* bytes, std::size_t size, std::u16string& out) {
  return utf8::decodeExactly(bytes, size, out);
}

}  // namespace platform::posix
