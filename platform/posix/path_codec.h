#pragma once

#include <cstddef>
#include <string>

namespace platform::posix {

// Paths are UTF-16 above this layer and bytes at the system call. A name's
// bytes that are not UTF-8 travel as lone surrogates U+DC80-U+DCFF, one for
// each byte (platform/utf8_codec.h, decodeKeepingBytes), so that every name
// a directory holds is reached under its own bytes.

// A path's bytes for one system call, converted without memory of its own:
// a file operation fails for want of memory nowhere. A path longer than the
// system takes is refused as it would refuse it (ENAMETOOLONG), and units
// that no bytes decode to as a name the system cannot hold (EILSEQ).
class NativePath {
 public:
  explicit NativePath(const char16_t* path);
  explicit operator bool() const { return error_ == 0; }
  // The errno value that refuses the path; 0 when it converted.
  int error() const { return error_; }
  const char* c_str() const { return bytes_; }
  char* data() { return bytes_; }

 private:
  // PATH_MAX on Linux, the terminator included.
  char bytes_[4096];
  int error_ = 0;
};

// Decodes a name or path from the system; every byte string has a decoding
// that NativePath turns back into exactly those bytes.
void fromNative(const char* bytes, std::size_t size, std::u16string& out);

}  // namespace platform::posix
