#pragma once

#include <cstddef>
#include <string>

namespace platform::posix {

// Paths are UTF-16 above this layer and bytes at the system call, converted
// by the program's one codec (platform/utf8_codec.h).
std::string toNative(const char16_t* path);

// A path's bytes for one system call, converted without memory of its own:
// a file operation fails for want of memory nowhere. A path longer than the
// system takes is refused as it would refuse it (ENAMETOOLONG).
class NativePath {
 public:
  explicit NativePath(const char16_t* path);
  explicit operator bool() const { return fits_; }
  const char* c_str() const { return bytes_; }
  char* data() { return bytes_; }

 private:
  // PATH_MAX on Linux, the terminator included.
  char bytes_[4096];
  bool fits_ = false;
};

// Decodes a name from the system. False (and the name is to be skipped)
// when the bytes do not survive the trip to UTF-16 and back unchanged: the
// entry could not be reached again through its converted path.
bool fromNative(const char* bytes, std::size_t size, std::u16string& out);

}  // namespace platform::posix
