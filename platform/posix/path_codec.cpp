#include "platform/posix/path_codec.h"

#include <cerrno>

#include "platform/utf8_codec.h"

namespace platform::posix {

NativePath::NativePath(const char16_t* path) {
  const char16_t* end = path;
  while (*end != u'\0') ++end;
  const utf8::KeptBytes kept = utf8::encodeKeepingBytes(path, end, bytes_, sizeof bytes_ - 1);
  switch (kept.status) {
    case utf8::KeptBytes::Status::Encoded:
      bytes_[kept.size] = '\0';
      return;
    case utf8::KeptBytes::Status::NoSuchName:
      error_ = EILSEQ;
      break;
    case utf8::KeptBytes::Status::TooLong:
      error_ = ENAMETOOLONG;
      break;
  }
  bytes_[0] = '\0';
}

void fromNative(const char* bytes, std::size_t size, std::u16string& out) {
  utf8::decodeKeepingBytes(bytes, size, out);
}

}  // namespace platform::posix
